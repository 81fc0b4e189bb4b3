/* libvarnolt: the home area (归属地) and number type of Chinese telephone
 * numbers, offline, from a Varnolt directory file ("Varnolt.dat").
 *
 * A program opens a directory file once, asks it about any number of
 * numbers, as people write them ("Tel: +86 139-1234-5678 ext. 8"), and
 * closes it. Plain C (C89 and later) and C++; all text is UTF-8.
 *
 *     varnolt *directory;
 *     varnolt_answer answer;
 *     int rc = varnolt_open("/usr/share/varnolt/Varnolt.dat", &directory);
 *     if (rc != VARNOLT_OK) { fprintf(stderr, "%s\n", varnolt_errstr(rc)); return 1; }
 *     varnolt_lookup(directory, "139 1234 5678", &answer, sizeof answer);
 *     printf("%s %s\n", answer.area, answer.type);      (江苏省常州市 中国移动)
 *     varnolt_close(directory);
 *
 * Threads: an open directory never changes. Any number of threads may look
 * numbers up in one directory at once, with no lock; only varnolt_close
 * must wait until every other call on that directory has returned.
 *
 * Errors: every function that can fail returns VARNOLT_OK (0) or one of the
 * result codes below; varnolt_errstr gives a code's text. No function
 * prints, exits, or lets an exception out.
 *
 * Growth: the library stays libvarnolt.so.1 (varnolt.dll) for good. A code's
 * number never changes and new codes are added after the last; new fields
 * of varnolt_answer are only ever appended, and the caller states the size
 * of the answer it has, so a program built against an older, smaller answer
 * keeps working with a newer library.
 */
#ifndef VARNOLT_H
#define VARNOLT_H

#include <stddef.h>

#if defined(VARNOLT_STATIC) /* built into the program that calls it */
#define VARNOLT_API
#elif defined(_WIN32)
#if defined(VARNOLT_BUILDING)
#define VARNOLT_API __declspec(dllexport)
#else
#define VARNOLT_API __declspec(dllimport)
#endif
#else
#define VARNOLT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define VARNOLT_OK 0
#define VARNOLT_MISSING 1           /* nothing at the path */
#define VARNOLT_UNREADABLE 2        /* there, but it cannot be opened or read */
#define VARNOLT_TOO_LARGE 3         /* 4 GiB or more: no directory file is */
#define VARNOLT_NO_MEMORY 4         /* out of memory */
#define VARNOLT_NOT_DIRECTORY 5     /* not a directory file at all */
#define VARNOLT_DAMAGED_START 6     /* damaged: the tables begin in the wrong place */
#define VARNOLT_DAMAGED_COUNTS 7    /* damaged: more areas or types than an item can name */
#define VARNOLT_DAMAGED_CUT 8       /* damaged: cut short */
#define VARNOLT_DAMAGED_AREAS 9     /* damaged: the area names */
#define VARNOLT_DAMAGED_TYPES 10    /* damaged: the type names */
#define VARNOLT_DAMAGED_ITEMS 11    /* damaged: an item names an area or type not there */
#define VARNOLT_INVALID_ARGUMENT 12 /* a null pointer, or an answer size too small */
/* New codes are added here, after the last. */

/* Why a number has the answer it has. */
#define VARNOLT_FOUND 0   /* the directory holds its area and type */
#define VARNOLT_UNKNOWN 1 /* a Chinese number the directory does not cover */
#define VARNOLT_FOREIGN 2 /* another country's number */
#define VARNOLT_INVALID 3 /* no number in the text */

/* An open directory file. */
typedef struct varnolt varnolt;

/* One number's answer. The texts are UTF-8, never null, "" where there is
 * nothing to say; they belong to the directory and stay valid until it is
 * closed. Later versions only append fields: pass sizeof of the answer you
 * have, and the library fills the fields that lie wholly inside it. */
typedef struct varnolt_answer {
    int status;            /* VARNOLT_FOUND, _UNKNOWN, _FOREIGN or _INVALID */
    unsigned int key;      /* the number key looked up, 32 bits everywhere; 0 for _FOREIGN and _INVALID */
    const char* area;      /* 江苏省常州市 */
    const char* type;      /* 中国移动, 中国联通, 中国电信, 中国广电, 移动电话 or 固定电话 */
    const char* province;  /* 江苏省; "" for a name with no province */
    const char* city;      /* 常州市; several joined by 、 where one area code serves them */
    const char* area_code; /* 0519, the city's area code (区号); "" where the directory has none */
} varnolt_answer;

/* Opens the directory file at `path` (UTF-8, also on Windows; on POSIX a
 * name that is not UTF-8 is taken as the bytes it is), reads it whole and
 * checks it. On VARNOLT_OK, *directory is an open directory that the caller
 * closes with varnolt_close; on any other result it is set to null. Nothing
 * at the path, a dangling link included, is VARNOLT_MISSING; a folder, FIFO
 * or device is VARNOLT_UNREADABLE at once, never waited on. The file is not
 * used after the call returns. */
VARNOLT_API int varnolt_open(const char* path, varnolt** directory);

/* The same over `size` bytes of a directory file in memory, which are
 * copied: the caller may free them as soon as the call returns. */
VARNOLT_API int varnolt_open_memory(const void* bytes, size_t size, varnolt** directory);

/* Closes a directory and frees everything it holds, the texts of its
 * answers included. Null is allowed and does nothing. */
VARNOLT_API void varnolt_close(varnolt* directory);

/* Answers one number as people write it: a NUL-terminated UTF-8 text such
 * as "13912345678", "0755-8888 8888", "+86 139 1234 5678" or
 * "Tel: 010-1234 5678 ext. 8". Labels before the number, of any length,
 * and an extension after it are skipped; another country's number, or text with too few
 * digits, has no area. `answer_size` is sizeof *answer. Fills *answer and
 * returns VARNOLT_OK; VARNOLT_INVALID_ARGUMENT when a pointer is null or
 * answer_size is less than the first answer's (through area_code). It
 * allocates nothing, so it cannot run out of memory. */
VARNOLT_API int varnolt_lookup(const varnolt* directory, const char* number, varnolt_answer* answer,
                               size_t answer_size);

/* Answers `count` numbers at once into the answers `answer_size` bytes apart
 * (sizeof *answers), in the same order: what varnolt_lookup gives for each.
 * A null number among them is answered as empty text (VARNOLT_INVALID). */
VARNOLT_API int varnolt_lookup_many(const varnolt* directory, const char* const* numbers, size_t count,
                                    varnolt_answer* answers, size_t answer_size);

/* The text of a result code ("no directory file", "damaged directory file:
 * cut short, ..."), static, in English. */
VARNOLT_API const char* varnolt_errstr(int code);

/* 1 when a result code says the file is not a directory file or a damaged
 * one (VARNOLT_NOT_DIRECTORY and every VARNOLT_DAMAGED_*, those to come
 * included), else 0. */
VARNOLT_API int varnolt_is_damaged(int code);

/* The system's reason of this thread's last varnolt_open that failed to
 * open or read its file: errno on POSIX (ENOENT, EACCES, ...), GetLastError()
 * on Windows; 0 when that open succeeded, failed for a reason of the file's
 * contents, or was varnolt_open_memory. */
VARNOLT_API int varnolt_system_error(void);

/* "found", "unknown", "foreign" or "invalid": a status's name, static. */
VARNOLT_API const char* varnolt_status_name(int status);

/* The library's version, such as "1.0.130.530", static. */
VARNOLT_API const char* varnolt_version(void);

#ifdef __cplusplus
}
#endif

#endif /* VARNOLT_H */
