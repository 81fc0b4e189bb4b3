// vnlt query's progress line, as pv and curl show theirs: only on a
// terminal, so a redirected error output holds errors and nothing else.
#include "cli/progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define VNLT_ISATTY(fd) _isatty(fd)
#define VNLT_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define VNLT_ISATTY(fd) isatty(fd)
#define VNLT_FILENO(f) fileno(f)
#endif

namespace {

// A list done within this shows nothing; afterwards the line is redrawn at
// this pace.
constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRefresh = std::chrono::milliseconds(250);

}  // namespace

Progress::Progress(size_t totalBytes)
    : total(totalBytes),
      shown(VNLT_ISATTY(VNLT_FILENO(stderr)) ? 0 : -1),
      start(Clock::now()),
      next(start + kQuietStart) {}

Progress::~Progress() {
    if (shown <= 0) return;
    std::fprintf(stderr, "\r%*s\r", shown, "");
    std::fflush(stderr);
}

void Progress::Look(size_t bytesDone) {
    const Clock::time_point now = Clock::now();
    if (now < next) return;
    next = now + kRefresh;
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double share = total ? 100.0 * static_cast<double>(bytesDone) / static_cast<double>(total) : 100.0;
    char line[96];
    const int width = std::snprintf(line, sizeof line, "vnlt: %zu rows, %.1f million a second, %.0f%%", rows,
                                    static_cast<double>(rows) / seconds / 1e6, share);
    // Spaces over what is left of a longer line before.
    std::fprintf(stderr, "\r%s%*s", line, shown > width ? shown - width : 0, "");
    std::fflush(stderr);
    if (width > shown) shown = width;
}
