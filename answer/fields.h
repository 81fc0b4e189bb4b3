// An answer's texts, each named once: its name in C and Python, its JSON key
// and CSV column, and its member of Answer. The writers, the library's
// answer and the Python type all expand this list, so no face can drift
// from another. Plain macros, so C++ and the extension's C-style code alike
// can use it.
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
