/* The C interface's contract, from a C89 program: result codes of bad files,
 * null arguments, answers of a size the caller states. Also run under Wine.
 * Usage: c_api_test VARNOLT_DAT FIXTURE_FOLDER */
#ifndef _WIN32
#define _XOPEN_SOURCE 700 /* mkfifo, symlink, mkdtemp */
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <stdio.h>
#include <stdlib.h> /* mkdtemp */
#include <string.h>

#include "varnolt.h"

static int failed = 0;

static void check(int ok, const char *what) {
    if (ok) return;
    printf("FAIL: %s\n", what);
    ++failed;
}

static int opens_as(const char *path, int code) {
    varnolt *directory = (varnolt *)&directory; /* not null: the call must clear it */
    int rc = varnolt_open(path, &directory);
    return rc == code && directory == NULL;
}

static void bad_files(const char *fixtures) {
    char path[1024];
    /* VNLT, the tables right after the header, one item that is not there */
    unsigned char header[36] = {'V', 'N', 'L', 'T', 36};
    varnolt *directory = NULL;
    int code;

    sprintf(path, "%s/no-such-file.dat", fixtures);
    check(opens_as(path, VARNOLT_MISSING) && varnolt_system_error() != 0, "a missing file is VARNOLT_MISSING");
    check(opens_as(fixtures, VARNOLT_UNREADABLE), "a folder is VARNOLT_UNREADABLE");
    sprintf(path, "%s/wrong_magic.dat", fixtures);
    check(opens_as(path, VARNOLT_NOT_DIRECTORY) && varnolt_system_error() == 0,
          "a file without VNLT is VARNOLT_NOT_DIRECTORY, the file's own reason");
    header[32] = 1;
    check(varnolt_open_memory(header, 36, &directory) == VARNOLT_DAMAGED_CUT && !directory, "an item cut off");
    check(varnolt_open_memory(header, 20, &directory) == VARNOLT_NOT_DIRECTORY, "20 bytes are no header");
    header[4] = 35;
    check(varnolt_open_memory(header, 36, &directory) == VARNOLT_DAMAGED_START, "an odd table start");
    for (code = VARNOLT_OK; code <= VARNOLT_INVALID_ARGUMENT; ++code)
        check(strcmp(varnolt_errstr(code), "unknown error") != 0 &&
                  (code == 0 || strcmp(varnolt_errstr(code), varnolt_errstr(code - 1))),
              "every result code has a text of its own");
}

#ifndef _WIN32
/* What is at a path, with the system's reason: a FIFO is refused rather
 * than waited on, a dangling link is missing, a name that is not UTF-8 opens. */
static void system_errors(const char *dat) {
    char folder[] = "/tmp/c_api_test.XXXXXX", path[1100];
    varnolt *directory = NULL;
    if (!mkdtemp(folder)) return;
    check(opens_as(folder, VARNOLT_UNREADABLE) && varnolt_system_error() == EISDIR, "errno of a folder");
    sprintf(path, "%s/fifo.dat", folder);
    check(mkfifo(path, 0600) == 0 && opens_as(path, VARNOLT_UNREADABLE), "a FIFO is refused, not waited on");
    remove(path);
    sprintf(path, "%s/dangling.dat", folder);
    check(symlink("nowhere.dat", path) == 0 && opens_as(path, VARNOLT_MISSING) && varnolt_system_error() == ENOENT,
          "a dangling link is missing");
    remove(path);
    sprintf(path, "%s/\xff\xfe.dat", folder);
    check(symlink(dat, path) == 0 && varnolt_open(path, &directory) == VARNOLT_OK && varnolt_system_error() == 0,
          "a name that is not UTF-8 opens");
    varnolt_close(directory);
    remove(path);
    rmdir(folder);
}
#endif

/* A program built against a later header, whose answer has grown: the
 * library fills what it knows, strides by the caller's size and touches
 * nothing after. A null number among many is empty text. */
struct grown_answer {
    varnolt_answer known;
    const char *later;
};

static void answers(const varnolt *directory) {
    struct grown_answer grown[3];
    varnolt_answer answer;
    const char *numbers[3] = {"139 1234 5678", NULL, "0755-8888 8888"};
    const char *untouched = "untouched";
    varnolt *opened = (varnolt *)&opened;

    check(varnolt_lookup(directory, "Tel: 139 1234 5678 ext. 8", &answer, sizeof answer) == VARNOLT_OK &&
              answer.status == VARNOLT_FOUND && answer.key == 1391234U && strcmp(answer.area, "江苏省常州市") == 0 &&
              strcmp(answer.type, "中国移动") == 0 && strcmp(answer.province, "江苏省") == 0 &&
              strcmp(answer.city, "常州市") == 0 && strcmp(answer.area_code, "0519") == 0,
          "a written mobile number is found, with its area, type, province, city and area code");
    grown[0].later = grown[1].later = grown[2].later = untouched;
    check(varnolt_lookup_many(directory, numbers, 3, &grown[0].known, sizeof grown[0]) == VARNOLT_OK &&
              grown[0].known.status == VARNOLT_FOUND && strcmp(grown[0].known.area_code, "0519") == 0 &&
              grown[1].known.status == VARNOLT_INVALID && grown[2].known.status == VARNOLT_FOUND &&
              strcmp(grown[2].known.area_code, "0755") == 0,
          "larger answers are strided by their size");
    check(varnolt_lookup(directory, "+1 312 555 0100", &grown[1].known, sizeof grown[1]) == VARNOLT_OK &&
              grown[1].known.status == VARNOLT_FOREIGN,
          "one larger answer");
    check(grown[0].later == untouched && grown[1].later == untouched && grown[2].later == untouched,
          "what the library does not know stays");

    check(varnolt_open(NULL, &opened) == VARNOLT_INVALID_ARGUMENT && opened == NULL &&
              varnolt_open("Varnolt.dat", NULL) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_open_memory(NULL, 10, &opened) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_open_memory(NULL, 0, &opened) == VARNOLT_NOT_DIRECTORY &&
              varnolt_lookup(directory, NULL, &answer, sizeof answer) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_lookup_many(directory, NULL, 1, &answer, sizeof answer) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_lookup_many(directory, numbers, 0, NULL, sizeof answer) == VARNOLT_OK,
          "null arguments are refused; no numbers and no bytes at all are not null");
    check(varnolt_lookup(directory, "13912345678", &answer, sizeof answer - 1) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_lookup_many(directory, numbers, 1, &answer, 4) == VARNOLT_INVALID_ARGUMENT,
          "an answer smaller than the first version's");
    varnolt_close(NULL);
}

int main(int argc, char **argv) {
    varnolt *directory = NULL;
    if (argc != 3) {
        fprintf(stderr, "usage: c_api_test VARNOLT_DAT FIXTURE_FOLDER\n");
        return 2;
    }
    bad_files(argv[2]);
#ifndef _WIN32
    system_errors(argv[1]);
#endif
    check(varnolt_open(argv[1], &directory) == VARNOLT_OK && directory != NULL, "the national directory opens");
    if (directory) answers(directory);
    varnolt_close(directory);
    printf("%d failed\n", failed);
    return failed == 0 ? 0 : 1;
}
