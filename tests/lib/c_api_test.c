/* The C interface's contract, from a C89 program: result codes from real
 * bad files, null arguments, who owns the answers' texts, and answers of the
 * national directory. Built natively against libvarnolt.so and for Windows
 * against varnolt.dll, which it runs under Wine.
 * Usage: c_api_test VARNOLT_DAT FIXTURE_FOLDER */
#ifndef _WIN32
#define _XOPEN_SOURCE 700 /* mkfifo, symlink, mkdtemp */
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varnolt.h"

static int passed = 0, failed = 0;

static void check(int ok, const char *what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAIL: %s\n", what);
    }
}

/* The whole file, or null. */
static char *read_file(const char *path, size_t *size) {
    FILE *file = fopen(path, "rb");
    char *bytes;
    long length;
    if (!file) return NULL;
    fseek(file, 0, SEEK_END);
    length = ftell(file);
    fseek(file, 0, SEEK_SET);
    bytes = (char *)malloc((size_t)length + 1);
    if (bytes && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
        free(bytes);
        bytes = NULL;
    }
    fclose(file);
    *size = (size_t)length;
    return bytes;
}

static int opens_as(const char *path, int code) {
    varnolt *directory = (varnolt *)&directory; /* not null: the call must clear it */
    int rc = varnolt_open(path, &directory);
    return rc == code && directory == NULL;
}

static void bad_files(const char *fixtures, const char *dat) {
    char path[1024];
    size_t size = 0;
    char *bytes = read_file(dat, &size);
    varnolt *directory = NULL;
    int code;

    sprintf(path, "%s/no-such-file.dat", fixtures);
    check(opens_as(path, VARNOLT_MISSING) && varnolt_system_error() != 0, "a missing file is VARNOLT_MISSING");
    check(opens_as(fixtures, VARNOLT_UNREADABLE), "a folder is VARNOLT_UNREADABLE");
    sprintf(path, "%s/wrong_magic.dat", fixtures);
    check(opens_as(path, VARNOLT_NOT_DIRECTORY) && varnolt_system_error() == 0,
          "a file without VNLT is VARNOLT_NOT_DIRECTORY, the file's own reason");
    sprintf(path, "%s/contacts_gbk.csv", fixtures);
    check(opens_as(path, VARNOLT_NOT_DIRECTORY), "a CSV file is VARNOLT_NOT_DIRECTORY");

    check(bytes != NULL && size > 1000, "the national directory is read");
    if (!bytes) return;
    check(varnolt_open_memory(bytes, size / 2, &directory) == VARNOLT_DAMAGED_CUT && !directory,
          "half the file is VARNOLT_DAMAGED_CUT");
    check(varnolt_open_memory(bytes, 20, &directory) == VARNOLT_NOT_DIRECTORY, "20 bytes are no header");
    bytes[4] = 35; /* the tables begin inside the header */
    check(varnolt_open_memory(bytes, size, &directory) == VARNOLT_DAMAGED_START, "an odd table start");
    free(bytes);

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
    sprintf(path, "%s/none.dat", folder);
    check(opens_as(path, VARNOLT_MISSING) && varnolt_system_error() == ENOENT, "errno of a missing file");
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

static void null_arguments(const varnolt *directory) {
    varnolt *opened = (varnolt *)&opened;
    varnolt_answer answer;
    const char *numbers[1];
    numbers[0] = "13912345678";
    check(varnolt_open(NULL, &opened) == VARNOLT_INVALID_ARGUMENT && opened == NULL &&
              varnolt_open("Varnolt.dat", NULL) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_open_memory(NULL, 10, &opened) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_lookup(NULL, "13912345678", &answer, sizeof answer) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_lookup(directory, NULL, &answer, sizeof answer) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_lookup(directory, "13912345678", NULL, sizeof answer) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_lookup_many(directory, NULL, 1, &answer, sizeof answer) == VARNOLT_INVALID_ARGUMENT,
          "null arguments are refused");
    check(varnolt_lookup(directory, "13912345678", &answer, sizeof answer - 1) == VARNOLT_INVALID_ARGUMENT &&
              varnolt_lookup_many(directory, numbers, 1, &answer, 4) == VARNOLT_INVALID_ARGUMENT,
          "an answer smaller than the first version's");
    check(varnolt_lookup_many(directory, numbers, 0, NULL, sizeof answer) == VARNOLT_OK &&
              varnolt_open_memory(NULL, 0, &opened) == VARNOLT_NOT_DIRECTORY,
          "no numbers and no bytes at all");
    varnolt_close(NULL);
}

/* A program built against a later header, whose answer has grown: the
 * library fills what it knows, strides by the caller's size and touches
 * nothing after. */
struct grown_answer {
    varnolt_answer known;
    const char *later;
};

static void grown_answers(const varnolt *directory) {
    struct grown_answer grown[2];
    const char *numbers[2];
    const char *untouched = "untouched";
    numbers[0] = "139 1234 5678";
    numbers[1] = "0755-8888 8888";
    grown[0].later = grown[1].later = untouched;
    check(varnolt_lookup_many(directory, numbers, 2, &grown[0].known, sizeof grown[0]) == VARNOLT_OK,
          "a lookup of many into larger answers");
    check(grown[0].known.status == VARNOLT_FOUND && strcmp(grown[0].known.area_code, "0519") == 0 &&
              grown[1].known.status == VARNOLT_FOUND && strcmp(grown[1].known.area_code, "0755") == 0,
          "larger answers are strided by their size");
    check(grown[0].later == untouched && grown[1].later == untouched, "what the library does not know stays");
    check(varnolt_lookup(directory, "+1 312 555 0100", &grown[1].known, sizeof grown[1]) == VARNOLT_OK &&
              grown[1].known.status == VARNOLT_FOREIGN && grown[1].later == untouched,
          "one larger answer");
}

static void answers(const varnolt *directory) {
    varnolt_answer answer, many[4];
    const char *numbers[4];
    const char *area;

    check(varnolt_lookup(directory, "Tel: 139 1234 5678 ext. 8", &answer, sizeof answer) == VARNOLT_OK, "a lookup");
    check(answer.status == VARNOLT_FOUND && answer.key == 1391234U && strcmp(answer.area, "江苏省常州市") == 0 &&
              strcmp(answer.type, "中国移动") == 0 && strcmp(answer.province, "江苏省") == 0 &&
              strcmp(answer.city, "常州市") == 0 && strcmp(answer.area_code, "0519") == 0,
          "a written mobile number is found, with its area, type, province, city and area code");
    area = answer.area;

    numbers[0] = "+1 312 555 0100";
    numbers[1] = "139123";
    numbers[2] = NULL;
    numbers[3] = "0755-8888 8888";
    check(varnolt_lookup_many(directory, numbers, 4, many, sizeof many[0]) == VARNOLT_OK, "a lookup of many");
    check(many[0].status == VARNOLT_FOREIGN && many[0].key == 0 && many[0].area[0] == 0, "a foreign number");
    check(many[1].status == VARNOLT_INVALID && many[1].type[0] == 0, "too few digits");
    check(many[2].status == VARNOLT_INVALID, "a null number among many");
    check(many[3].status == VARNOLT_FOUND && strcmp(many[3].area, "广东省深圳市") == 0 &&
              strcmp(many[3].area_code, "0755") == 0,
          "a fixed line among many");
    check(varnolt_lookup(directory, "4194304", &answer, sizeof answer) == VARNOLT_OK &&
              answer.status == VARNOLT_UNKNOWN && answer.key == 4194304U,
          "a key no item covers is unknown");
    /* The texts are the directory's: the same name, the same text. */
    varnolt_lookup(directory, "13912340000", &answer, sizeof answer);
    check(answer.area == area, "answers share the directory's texts");
    check(strcmp(varnolt_status_name(VARNOLT_FOREIGN), "foreign") == 0, "a status's name");
}

int main(int argc, char **argv) {
    varnolt *directory = NULL;
    int rc;
    if (argc != 3) {
        fprintf(stderr, "usage: c_api_test VARNOLT_DAT FIXTURE_FOLDER\n");
        return 2;
    }
    check(strncmp(varnolt_version(), "1.", 2) == 0, "the version");
    bad_files(argv[2], argv[1]);
#ifndef _WIN32
    system_errors(argv[1]);
#endif
    rc = varnolt_open(argv[1], &directory);
    check(rc == VARNOLT_OK && directory != NULL, "the national directory opens");
    if (directory) {
        null_arguments(directory);
        answers(directory);
        grown_answers(directory);
        varnolt_close(directory);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
