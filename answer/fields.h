// An answer's texts, each named once: its name in C and Python, its JSON key
// (also its CSV column), and its member of Answer. The writers, the
// library's answer and the Python type all expand this list, so no face can
// drift from another. Plain macros, so C++ and the extension's C-style code
// alike can use it. The key, found and status stand around the texts: JSON
// has key, found, status, then the texts; CSV key, found, the texts, status.
//
//     X(cName, jsonKey, member)
#pragma once

#define VARNOLT_ANSWER_TEXTS(X)       \
    X(area, "area", area)             \
    X(type, "type", type)             \
    X(province, "province", province) \
    X(city, "city", city)             \
    X(area_code, "areaCode", areaCode)

// The count of the texts above.
#define VARNOLT_ANSWER_TEXT_ONE(cName, jsonKey, member) +1
#define VARNOLT_ANSWER_TEXT_COUNT (0 VARNOLT_ANSWER_TEXTS(VARNOLT_ANSWER_TEXT_ONE))

// The CSV header of an answer's columns: "key,found,area,…,areaCode,status".
#define VARNOLT_ANSWER_CSV_COLUMN(cName, jsonKey, member) "," jsonKey
#define VARNOLT_ANSWER_CSV_COLUMNS "key,found" VARNOLT_ANSWER_TEXTS(VARNOLT_ANSWER_CSV_COLUMN) ",status"
