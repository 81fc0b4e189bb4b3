// vnlt query's progress line on a long --input list: rows, rate and the
// share of the text done, on standard error while it is a terminal.
#pragma once

#include <chrono>
#include <cstddef>

class Progress {
public:
    // `totalBytes`: the size of the text the rows come from.
    explicit Progress(size_t totalBytes);
    ~Progress();  // clears the line
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // One more row, which ended at `bytesDone`: a counter, and now and then
    // a look at the clock.
    void Row(size_t bytesDone) {
        if ((++rows & (kRowsPerLook - 1)) == 0 && shown >= 0) Look(bytesDone);
    }

private:
    static constexpr size_t kRowsPerLook = 16384;
    void Look(size_t bytesDone);

    using Clock = std::chrono::steady_clock;
    size_t total;
    size_t rows = 0;
    int shown;  // the width of the line on the terminal; -1 when it is no terminal
    Clock::time_point start, next;
};
