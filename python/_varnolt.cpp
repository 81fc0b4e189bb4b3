// varnolt._varnolt: libvarnolt's directories and answers as Python objects.
// The texts of answers are made into str objects once per directory, so a
// lookup costs a tuple and a few references.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "answer/fields.h"
#include "lib/varnolt.h"

namespace {

// An answer's fields: status and key, then the texts in the order of the
// one list of them.
constexpr int kTexts = VARNOLT_ANSWER_TEXT_COUNT;
constexpr int kFields = 2 + kTexts;
const char* const kFieldNames[] = {"status", "key",
#define VARNOLT_NAME(cName, jsonKey, member) #cName,
                                   VARNOLT_ANSWER_TEXTS(VARNOLT_NAME)
#undef VARNOLT_NAME
                                       nullptr};

PyTypeObject* answerType;
constexpr int kStatuses = VARNOLT_INVALID + 1;
PyObject* statusNames[kStatuses];
PyObject* errorType;
PyObject* missingType;
PyObject* damagedType;

// A batch is answered in slices: the texts and answers of one slice are
// all the memory a batch needs beyond its result, and the GIL is let go
// for each.
constexpr Py_ssize_t kSlice = 16384;

// Each text of a directory's answers, as a str, by the address libvarnolt
// gives it, and each answer's five texts together by their five addresses:
// open-addressing tables, as a batch asks for five texts a number and a
// directory has a few thousand sets of them. `id` is the same for equal
// texts, which annotate's categories need; `serial` numbers the sets. Only
// touched with the GIL held.
struct TextCache {
    struct Slot {
        const char* key = nullptr;
        PyObject* text = nullptr;
        uint32_t id = 0;
    };
    // One answer's texts, as borrowed references to the slots' str, and
    // as a tuple that every answer with them shares.
    struct Set {
        const char* keys[kTexts];
        PyObject* texts[kTexts];
        uint32_t ids[kTexts];
        PyObject* tuple;
    };
    std::vector<Slot> slots = std::vector<Slot>(1024);
    size_t used = 0;
    std::unordered_map<std::string_view, uint32_t> ids;
    std::vector<Set> sets;
    std::vector<uint32_t> setAt = std::vector<uint32_t>(1024);  // serial + 1; 0 where free

    ~TextCache() {
        for (Slot& s : slots) Py_XDECREF(s.text);
        for (Set& s : sets) Py_DECREF(s.tuple);
    }

    static size_t Hash(const char* key) { return (reinterpret_cast<uintptr_t>(key) >> 3) * 0x9E3779B97F4A7C15ull; }

    // By the area and the type alone: the other texts follow from the area
    // but for a few, which share a chain and are told apart by Same.
    static size_t Hash(const char* const* keys) {
        const uint64_t h = (reinterpret_cast<uintptr_t>(keys[0]) >> 3) * 0x9E3779B97F4A7C15ull ^
                           (reinterpret_cast<uintptr_t>(keys[1]) >> 3) * 0xC2B2AE3D27D4EB4Full;
        return static_cast<size_t>(h ^ (h >> 32));
    }

    static bool Same(const char* const* a, const char* const* b) {
        bool same = true;
        for (int i = 0; i < kTexts; ++i) same &= a[i] == b[i];
        return same;
    }

    // The texts of an answer and their serial; null with MemoryError set
    // when a table cannot grow.
    const Set* FindSet(const char* const* keys, uint32_t* serial) {
        size_t mask = setAt.size() - 1;
        for (size_t at = Hash(keys) & mask;; at = (at + 1) & mask) {
            const uint32_t held = setAt[at];
            if (!held) break;
            const Set& set = sets[held - 1];
            if (Same(keys, set.keys)) {
                *serial = held - 1;
                return &set;
            }
        }
        Set set;
        set.tuple = nullptr;
        try {
            for (int i = 0; i < kTexts; ++i) {
                const Slot* slot = FindOrAdd(keys[i]);
                if (!slot) return nullptr;
                set.keys[i] = keys[i];
                set.texts[i] = slot->text;
                set.ids[i] = slot->id;
            }
            set.tuple = PyTuple_New(kTexts);
            if (!set.tuple) return nullptr;
            for (int i = 0; i < kTexts; ++i) PyTuple_SET_ITEM(set.tuple, i, Py_NewRef(set.texts[i]));
            if (2 * (sets.size() + 1) > setAt.size()) {
                std::vector<uint32_t> grown(setAt.size() * 2);
                mask = grown.size() - 1;
                for (uint32_t s = 0; s < sets.size(); ++s) {
                    size_t at = Hash(sets[s].keys) & mask;
                    while (grown[at]) at = (at + 1) & mask;
                    grown[at] = s + 1;
                }
                setAt.swap(grown);
            }
            sets.push_back(set);
            size_t at = Hash(keys) & mask;
            while (setAt[at]) at = (at + 1) & mask;
            *serial = static_cast<uint32_t>(sets.size() - 1);
            setAt[at] = *serial + 1;
            return &sets.back();
        } catch (const std::bad_alloc&) {
            Py_XDECREF(set.tuple);
            PyErr_NoMemory();
            return nullptr;
        }
    }

    // Null with MemoryError set by Python when a str cannot be made; throws
    // bad_alloc when the table cannot grow.
    const Slot* FindOrAdd(const char* key) {
        const size_t mask = slots.size() - 1;
        for (size_t at = Hash(key) & mask;; at = (at + 1) & mask) {
            if (slots[at].key == key) return &slots[at];
            if (!slots[at].key) return Add(key, at);
        }
    }

    const Slot* Add(const char* key, size_t at) {
        if (2 * (used + 1) > slots.size()) {
            Grow();
            return FindOrAdd(key);
        }
        PyObject* text =
            PyUnicode_DecodeUTF8(key, static_cast<Py_ssize_t>(std::char_traits<char>::length(key)), "replace");
        if (!text) return nullptr;
        std::unordered_map<std::string_view, uint32_t>::iterator named;
        try {
            named = ids.try_emplace(std::string_view(key), static_cast<uint32_t>(ids.size())).first;
        } catch (const std::bad_alloc&) {
            Py_DECREF(text);
            throw;
        }
        slots[at] = Slot{key, text, named->second};
        ++used;
        return &slots[at];
    }

    void Grow() {
        std::vector<Slot> old(slots.size() * 2);
        old.swap(slots);
        const size_t mask = slots.size() - 1;
        for (const Slot& s : old) {
            if (!s.key) continue;
            size_t at = Hash(s.key) & mask;
            while (slots[at].key) at = (at + 1) & mask;
            slots[at] = s;
        }
    }
};

struct DirectoryObject {
    PyObject_HEAD varnolt* handle;
    PyObject* path;
    TextCache* texts;
    bool opening;  // an __init__ is opening the file without the GIL
};

// How one number was read into a batch's text.
enum class Read { kText, kMissing, kFailed };

// Integers as a column of numbers read by pandas holds them (int64, or
// float64 where some are missing): "" where no telephone number is, so that
// they are answered 'invalid'.
Read AppendInteger(long long value, std::string& out) {
    if (value >= 0) {
        char digits[24];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    }
    out.push_back('\0');
    return Read::kText;
}

Read AppendFloat(double value, std::string& out) {
    if (std::isnan(value)) return Read::kMissing;
    if (!(value >= 0 && value < 1e15) || value != std::floor(value)) return AppendInteger(-1, out);
    return AppendInteger(static_cast<long long>(value), out);
}

// Appends the UTF-8 text of one number as a caller holds it, and a NUL: a
// copy, so that no other thread can take it away while the GIL is let go.
// str, bytes, any integer (numpy's and pandas' have __index__) or float.
// None, NaN and the objects in `missing` (pandas' NA and NaT) are missing.
Read AppendText(PyObject* number, PyObject* missing, std::string& out) {
    if (PyUnicode_Check(number)) {
        // Compact ASCII, as nearly every number is: its characters are its
        // UTF-8, NUL-terminated where it stands.
        if (PyUnicode_IS_COMPACT_ASCII(number)) {
            out.append(static_cast<const char*>(PyUnicode_DATA(number)),
                       static_cast<size_t>(PyUnicode_GET_LENGTH(number)) + 1);
            return Read::kText;
        }
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(number, &size);
        if (!text) {
            // A lone surrogate, as surrogateescape leaves for bytes that are
            // not UTF-8: text with no number in it, not a failed batch.
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return Read::kFailed;
            PyErr_Clear();
            text = "";
            size = 0;
        }
        out.append(text, static_cast<size_t>(size)).push_back('\0');
        return Read::kText;
    }
    if (PyBytes_Check(number)) {
        out.append(PyBytes_AS_STRING(number), static_cast<size_t>(PyBytes_GET_SIZE(number))).push_back('\0');
        return Read::kText;
    }
    if (number == Py_None) return Read::kMissing;
    for (Py_ssize_t m = 0; missing && m < PyTuple_GET_SIZE(missing); ++m) {
        if (number == PyTuple_GET_ITEM(missing, m)) return Read::kMissing;  // NA == x is NA, not a bool
    }
    if (PyFloat_Check(number)) return AppendFloat(PyFloat_AS_DOUBLE(number), out);
    if (PyIndex_Check(number) && !PyBool_Check(number)) {
        PyObject* index = PyNumber_Index(number);
        if (!index) return Read::kFailed;
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(index, &overflow);
        Py_DECREF(index);
        if (value == -1 && PyErr_Occurred()) return Read::kFailed;
        return AppendInteger(overflow ? -1 : value, out);
    }
    // numpy's float32 and float16 are no float, but have __float__.
    if (!PyBool_Check(number) && Py_TYPE(number)->tp_as_number && Py_TYPE(number)->tp_as_number->nb_float) {
        const double value = PyFloat_AsDouble(number);
        if (value == -1.0 && PyErr_Occurred()) return Read::kFailed;
        return AppendFloat(value, out);
    }
    PyErr_Format(PyExc_TypeError, "a number is given as str, bytes, int or float, not %.100s",
                 Py_TYPE(number)->tp_name);
    return Read::kFailed;
}

// pandas' missing values, if pandas is in use: a new tuple, empty if not.
PyObject* PandasMissing() {
    PyObject* name = PyUnicode_FromString("pandas");
    PyObject* pandas = name ? PyImport_GetModule(name) : nullptr;
    Py_XDECREF(name);
    if (!pandas) return PyErr_Occurred() ? nullptr : PyTuple_New(0);
    PyObject* na = PyObject_GetAttrString(pandas, "NA");
    PyObject* nat = na ? PyObject_GetAttrString(pandas, "NaT") : nullptr;
    Py_DECREF(pandas);
    PyObject* missing = nat ? PyTuple_Pack(2, na, nat) : nullptr;
    Py_XDECREF(na);
    Py_XDECREF(nat);
    if (!missing && PyErr_ExceptionMatches(PyExc_AttributeError)) {  // pandas still being imported
        PyErr_Clear();
        return PyTuple_New(0);
    }
    return missing;
}

// A buffer held for one call, released however the call ends.
struct HeldBuffer {
    Py_buffer view{};
    bool held = false;

    HeldBuffer() = default;
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;

    bool Get(PyObject* object, int flags) {
        held = PyObject_GetBuffer(object, &view, flags) == 0;
        return held;
    }
    ~HeldBuffer() {
        if (held) PyBuffer_Release(&view);
    }
};

// The numbers of a batch: a list of objects, or a column of int64 or
// float64. Read with the GIL held, slice by slice.
struct Numbers {
    PyObject* list = nullptr;
    HeldBuffer column;
    char format = 0;
    PyObject* missing = nullptr;

    bool Open(PyObject* numbers) {
        if (PyList_Check(numbers)) {
            list = numbers;
            return true;
        }
        if (!column.Get(numbers, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS)) return false;
        const char* f = column.view.format ? column.view.format : "B";
        if (column.view.ndim == 1 && column.view.itemsize == 8 && f[1] == '\0' &&
            (*f == 'q' || *f == 'l' || *f == 'd')) {
            format = *f == 'd' ? 'd' : 'q';
            return true;
        }
        PyErr_SetString(PyExc_TypeError, "numbers are a list, or a column of int64 or float64");
        return false;
    }

    // A list may be changed by another thread whenever the GIL is let go.
    Py_ssize_t Count() const { return list ? PyList_GET_SIZE(list) : column.view.shape[0]; }

    Read Append(Py_ssize_t i, std::string& out) const {
        if (format == 'q') return AppendInteger(static_cast<const int64_t*>(column.view.buf)[i], out);
        if (format == 'd') return AppendFloat(static_cast<const double*>(column.view.buf)[i], out);
        // An integer's __index__ may change the list, or drop this number.
        if (i >= PyList_GET_SIZE(list)) {
            PyErr_SetString(PyExc_RuntimeError, "the list of numbers changed size while it was answered");
            return Read::kFailed;
        }
        PyObject* number = Py_NewRef(PyList_GET_ITEM(list, i));
        const Read read = AppendText(number, missing, out);
        Py_DECREF(number);
        return read;
    }
};

// Raises the error of a result code as an OSError: errno, strerror and
// filename from the system's reason where there is one, and libvarnolt's
// code and text as .code and .reason.
PyObject* RaiseResult(int code, int systemError, PyObject* path) {
    if (code == VARNOLT_NO_MEMORY) return PyErr_NoMemory();
    PyObject* type = code == VARNOLT_MISSING ? missingType : varnolt_is_damaged(code) != 0 ? damagedType : errorType;
    const char* reason = varnolt_errstr(code);
    PyObject* file = path ? path : Py_None;
#ifdef _WIN32
    // OSError finds errno from the Windows error itself.
    PyObject* error = systemError ? PyObject_CallFunction(type, "OsOi", Py_None, reason, file, systemError)
                                  : PyObject_CallFunction(type, "OsO", Py_None, reason, file);
#else
    PyObject* error = systemError ? PyObject_CallFunction(type, "isO", systemError, std::strerror(systemError), file)
                                  : PyObject_CallFunction(type, "OsO", Py_None, reason, file);
#endif
    if (!error) return nullptr;
    PyObject* number = PyLong_FromLong(code);
    PyObject* text = PyUnicode_FromString(reason);
    const bool set = number && text && PyObject_SetAttrString(error, "code", number) == 0 &&
                     PyObject_SetAttrString(error, "reason", text) == 0 &&
                     PyObject_SetAttrString(error, "path", file) == 0;
    Py_XDECREF(number);
    Py_XDECREF(text);
    if (set) PyErr_SetObject(type, error);
    Py_DECREF(error);
    return nullptr;
}

// One number's answer: the status and key as they came, the texts held as
// the directory's str objects. It holds nothing but str, so it cannot be
// part of a cycle and stays out of the garbage collector's way: a batch of
// a million answers is a million small allocations and nothing more.
struct AnswerObject {
    PyObject_HEAD PyObject* texts;  // a tuple of kTexts str
    uint32_t key;
    uint8_t status;
};

// The five text addresses of an answer, in the order of its texts.
struct TextKeys {
    const char* keys[kTexts];
    explicit TextKeys(const varnolt_answer& a)
        : keys{
#define VARNOLT_TEXT(cName, jsonKey, member) a.cName,
              VARNOLT_ANSWER_TEXTS(VARNOLT_TEXT)
#undef VARNOLT_TEXT
          } {
    }
};

PyObject* MakeAnswer(DirectoryObject* d, const varnolt_answer& a) {
    uint32_t serial;
    const TextCache::Set* set = d->texts->FindSet(TextKeys(a).keys, &serial);
    if (!set) return nullptr;
    auto* answer = PyObject_New(AnswerObject, answerType);
    if (!answer) return nullptr;
    answer->status = static_cast<uint8_t>(a.status);
    answer->key = a.key;
    answer->texts = Py_NewRef(set->tuple);
    return reinterpret_cast<PyObject*>(answer);
}

PyObject* AnswerField(AnswerObject* a, Py_ssize_t i) {
    if (i == 0) return Py_NewRef(statusNames[a->status]);
    if (i == 1) return PyLong_FromUnsignedLong(a->key);
    return Py_NewRef(PyTuple_GET_ITEM(a->texts, i - 2));
}

PyObject* AnswerNew(PyTypeObject* type, PyObject* args, PyObject* keywords) {
    PyObject* given[kFields] = {};
    const Py_ssize_t count = PyTuple_GET_SIZE(args);
    if (count > kFields) return PyErr_Format(PyExc_TypeError, "Answer takes %d fields, not %zd", kFields, count);
    for (Py_ssize_t i = 0; i < count; ++i) given[i] = PyTuple_GET_ITEM(args, i);
    PyObject* name;
    PyObject* value;
    for (Py_ssize_t at = 0; keywords && PyDict_Next(keywords, &at, &name, &value);) {
        int i = 0;
        while (kFieldNames[i] &&
               !(PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, kFieldNames[i]) == 0))
            ++i;
        if (!kFieldNames[i] || given[i])
            return PyErr_Format(PyExc_TypeError, "Answer() got a bad or repeated field %R", name);
        given[i] = value;
    }
    for (int i = 0; i < kFields; ++i) {
        if (!given[i]) return PyErr_Format(PyExc_TypeError, "Answer() is missing the field '%s'", kFieldNames[i]);
        if (i != 1 && !PyUnicode_Check(given[i]))
            return PyErr_Format(PyExc_TypeError, "Answer's %s is a str, not %.100s", kFieldNames[i],
                                Py_TYPE(given[i])->tp_name);
    }
    int named = 0;
    while (named < kStatuses && PyUnicode_Compare(given[0], statusNames[named]) != 0) ++named;
    if (named == kStatuses) return PyErr_Format(PyExc_ValueError, "no such status: %R", given[0]);
    const unsigned long key = PyLong_AsUnsignedLong(given[1]);
    if (PyErr_Occurred()) return nullptr;
    if (key > UINT32_MAX) return PyErr_Format(PyExc_OverflowError, "a key has 32 bits: %lu", key);
    auto* answer = reinterpret_cast<AnswerObject*>(type->tp_alloc(type, 0));
    if (!answer) return nullptr;
    answer->status = static_cast<uint8_t>(named);
    answer->key = static_cast<uint32_t>(key);
    answer->texts = PyTuple_New(kTexts);
    if (!answer->texts) {
        Py_DECREF(answer);
        return nullptr;
    }
    for (int i = 0; i < kTexts; ++i) PyTuple_SET_ITEM(answer->texts, i, Py_NewRef(given[2 + i]));
    return reinterpret_cast<PyObject*>(answer);
}

void AnswerDealloc(AnswerObject* a) {
    PyTypeObject* type = Py_TYPE(a);
    Py_XDECREF(a->texts);
    type->tp_free(reinterpret_cast<PyObject*>(a));
    Py_DECREF(type);
}

PyObject* AnswerTuple(AnswerObject* a, PyObject* = nullptr) {
    PyObject* tuple = PyTuple_New(kFields);
    for (Py_ssize_t i = 0; tuple && i < kFields; ++i) {
        PyObject* field = AnswerField(a, i);
        if (!field)
            Py_CLEAR(tuple);
        else
            PyTuple_SET_ITEM(tuple, i, field);
    }
    return tuple;
}

Py_ssize_t AnswerLength(PyObject*) { return kFields; }

PyObject* AnswerItem(AnswerObject* a, Py_ssize_t i) {
    if (i < 0 || i >= kFields) {
        PyErr_SetString(PyExc_IndexError, "Answer index out of range");
        return nullptr;
    }
    return AnswerField(a, i);
}

PyObject* AnswerRepr(AnswerObject* a) {
    PyObject* parts = PyList_New(0);
    for (int i = 0; parts && i < kFields; ++i) {
        PyObject* field = AnswerField(a, i);
        PyObject* part = field ? PyUnicode_FromFormat(i == 1 ? "%s=%S" : "%s=%R", kFieldNames[i], field) : nullptr;
        if (!part || PyList_Append(parts, part) < 0) Py_CLEAR(parts);
        Py_XDECREF(field);
        Py_XDECREF(part);
    }
    PyObject* comma = parts ? PyUnicode_FromString(", ") : nullptr;
    PyObject* joined = comma ? PyUnicode_Join(comma, parts) : nullptr;
    PyObject* text = joined ? PyUnicode_FromFormat("varnolt.Answer(%U)", joined) : nullptr;
    Py_XDECREF(parts);
    Py_XDECREF(comma);
    Py_XDECREF(joined);
    return text;
}

PyObject* AnswerCompare(PyObject* left, PyObject* right, int op) {
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(right, answerType)) Py_RETURN_NOTIMPLEMENTED;
    PyObject* a = AnswerTuple(reinterpret_cast<AnswerObject*>(left));
    PyObject* b = a ? AnswerTuple(reinterpret_cast<AnswerObject*>(right)) : nullptr;
    PyObject* result = b ? PyObject_RichCompare(a, b, op) : nullptr;
    Py_XDECREF(a);
    Py_XDECREF(b);
    return result;
}

Py_hash_t AnswerHash(AnswerObject* a) {
    PyObject* tuple = AnswerTuple(a);
    const Py_hash_t hash = tuple ? PyObject_Hash(tuple) : -1;
    Py_XDECREF(tuple);
    return hash;
}

PyObject* AnswerAsDict(AnswerObject* a, PyObject*) {
    PyObject* dict = PyDict_New();
    for (Py_ssize_t i = 0; dict && i < kFields; ++i) {
        PyObject* field = AnswerField(a, i);
        if (!field || PyDict_SetItemString(dict, kFieldNames[i], field) < 0) Py_CLEAR(dict);
        Py_XDECREF(field);
    }
    return dict;
}

PyObject* AnswerReduce(AnswerObject* a, PyObject*) {
    return Py_BuildValue("(ON)", reinterpret_cast<PyObject*>(Py_TYPE(a)), AnswerTuple(a));
}

PyObject* AnswerStatus(AnswerObject* a, void*) { return AnswerField(a, 0); }
PyObject* AnswerKey(AnswerObject* a, void*) { return AnswerField(a, 1); }
PyObject* AnswerFound(AnswerObject* a, void*) { return PyBool_FromLong(a->status == VARNOLT_FOUND); }

// What each text holds, by its name in the list of an answer's texts.
constexpr const char* kAbout_area = "the home area: 江苏省常州市";
constexpr const char* kAbout_type = "the number type: 中国移动, 中国联通, 中国电信, 中国广电, 移动电话 or 固定电话";
constexpr const char* kAbout_province = "江苏省; '' for a name with no province";
constexpr const char* kAbout_city = "常州市; several joined by 、 where one area code serves them";
constexpr const char* kAbout_area_code = "the city's area code (区号), such as 0519; '' where there is none";

enum TextIndex {
#define VARNOLT_INDEX(cName, jsonKey, member) kText_##cName,
    VARNOLT_ANSWER_TEXTS(VARNOLT_INDEX)
#undef VARNOLT_INDEX
};

PyObject* AnswerText(AnswerObject* a, void* index) {
    return Py_NewRef(PyTuple_GET_ITEM(a->texts, reinterpret_cast<intptr_t>(index)));
}

PyGetSetDef answerGetters[] = {
    {"status", reinterpret_cast<getter>(AnswerStatus), nullptr,
     "'found', 'unknown' (a Chinese number the directory does not cover), 'foreign' or 'invalid'", nullptr},
    {"key", reinterpret_cast<getter>(AnswerKey), nullptr, "the number key looked up; 0 for 'foreign' and 'invalid'",
     nullptr},
    {"found", reinterpret_cast<getter>(AnswerFound), nullptr, "whether the status is 'found'", nullptr},
#define VARNOLT_GETTER(cName, jsonKey, member)                              \
    {#cName, reinterpret_cast<getter>(AnswerText), nullptr, kAbout_##cName, \
     reinterpret_cast<void*>(static_cast<intptr_t>(kText_##cName))},
    VARNOLT_ANSWER_TEXTS(VARNOLT_GETTER)
#undef VARNOLT_GETTER
        {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef answerMethods[] = {
    {"_asdict", reinterpret_cast<PyCFunction>(AnswerAsDict), METH_NOARGS,
     "_asdict($self, /)\n--\n\nThe fields as a dict, in order."},
    {"__reduce__", reinterpret_cast<PyCFunction>(AnswerReduce), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot answerSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(AnswerNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(AnswerDealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(AnswerRepr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(AnswerCompare)},
    {Py_tp_hash, reinterpret_cast<void*>(AnswerHash)},
    {Py_sq_length, reinterpret_cast<void*>(AnswerLength)},
    {Py_sq_item, reinterpret_cast<void*>(AnswerItem)},
    {Py_tp_getset, answerGetters},
    {Py_tp_methods, answerMethods},
#define VARNOLT_ARGUMENT(cName, jsonKey, member) ", " #cName
    {Py_tp_doc, const_cast<char*>("Answer(status, key" VARNOLT_ANSWER_TEXTS(
                    VARNOLT_ARGUMENT) ")\n--\n\n"
                                      "One number's answer. Read-only; unpacks and indexes like a tuple of its\n"
                                      "fields, in that order. The texts are '' where there is nothing to say.")},
#undef VARNOLT_ARGUMENT
    {0, nullptr},
};

PyType_Spec answerSpec = {"varnolt.Answer", sizeof(AnswerObject), 0, Py_TPFLAGS_DEFAULT, answerSlots};

int DirectoryInit(DirectoryObject* self, PyObject* args, PyObject* keywords) {
    static const char* names[] = {"path", nullptr};
    PyObject* path = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "O&:Directory", const_cast<char**>(names), PyUnicode_FSDecoder,
                                     &path))
        return -1;
    // Another thread may be answering from the open handle without the GIL,
    // or opening one for this object.
    PyObject* file = nullptr;
    if (self->handle || self->opening) {
        PyErr_SetString(PyExc_RuntimeError, "the directory is already open");
    } else if (PyUnicode_FSConverter(path, &file)) {
        self->opening = true;
        varnolt* handle = nullptr;
        int code;
        int systemError;
        Py_BEGIN_ALLOW_THREADS code = varnolt_open(PyBytes_AS_STRING(file), &handle);
        systemError = varnolt_system_error();
        Py_END_ALLOW_THREADS self->opening = false;
        Py_DECREF(file);
        if (code != VARNOLT_OK) {
            RaiseResult(code, systemError, path);
        } else if (!(self->texts = new (std::nothrow) TextCache)) {
            varnolt_close(handle);
            PyErr_NoMemory();
        } else {
            self->path = path;
            self->handle = handle;
            return 0;
        }
    }
    Py_DECREF(path);
    return -1;
}

void DirectoryDealloc(DirectoryObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete self->texts;
    varnolt_close(self->handle);
    Py_XDECREF(self->path);
    type->tp_free(reinterpret_cast<PyObject*>(self));
    Py_DECREF(type);  // a heap type, which its objects hold
}

bool Ready(DirectoryObject* self) {
    if (self->handle) return true;
    PyErr_SetString(PyExc_ValueError, "the directory is not open: Directory.__init__ was not called");
    return false;
}

PyObject* DirectoryLookup(DirectoryObject* self, PyObject* number) {
    if (!Ready(self)) return nullptr;
    try {
        std::string text;
        const Read read = AppendText(number, nullptr, text);
        if (read == Read::kFailed) return nullptr;
        if (read == Read::kMissing) {
            PyErr_SetString(PyExc_TypeError, "a number to look up, not None or NaN");
            return nullptr;
        }
        varnolt_answer answer;
        const int code = varnolt_lookup(self->handle, text.c_str(), &answer, sizeof answer);
        if (code != VARNOLT_OK) return RaiseResult(code, 0, nullptr);
        return MakeAnswer(self, answer);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// Answers every number, a slice at a time, handing each answer, its index
// and whether the number was missing to `take`, with the GIL held. The
// texts of a slice are copied first: nothing of the caller's is read while
// the GIL is let go.
template <typename Take>
bool AnswerAll(DirectoryObject* self, const Numbers& numbers, Take take) {
    constexpr size_t kMissing = SIZE_MAX;
    try {
        std::string written;  // the texts of one slice, NUL after each
        std::vector<size_t> writtenAt;
        std::vector<const char*> texts;
        std::vector<varnolt_answer> answers;
        const Py_ssize_t count = numbers.Count();
        for (Py_ssize_t start = 0; start < count; start += kSlice) {
            if (numbers.Count() != count) {
                PyErr_SetString(PyExc_RuntimeError, "the list of numbers changed size while it was answered");
                return false;
            }
            const size_t n = static_cast<size_t>(std::min(kSlice, count - start));
            written.clear();
            writtenAt.clear();
            for (size_t i = 0; i < n; ++i) {
                const size_t at = written.size();
                const Py_ssize_t index = start + static_cast<Py_ssize_t>(i);
                // Compact ASCII, as nearly every number is, copied here with
                // its NUL; anything else as AppendText reads it.
                PyObject* item = numbers.list && index < PyList_GET_SIZE(numbers.list)
                                     ? PyList_GET_ITEM(numbers.list, index)
                                     : nullptr;
                if (item && PyUnicode_CheckExact(item) && PyUnicode_IS_COMPACT_ASCII(item)) {
                    written.append(static_cast<const char*>(PyUnicode_DATA(item)),
                                   static_cast<size_t>(PyUnicode_GET_LENGTH(item)) + 1);
                    writtenAt.push_back(at);
                    continue;
                }
                const Read read = numbers.Append(index, written);
                if (read == Read::kFailed) return false;
                writtenAt.push_back(read == Read::kMissing ? kMissing : at);
            }
            texts.resize(n);
            for (size_t i = 0; i < n; ++i)
                texts[i] = writtenAt[i] == kMissing ? nullptr : written.data() + writtenAt[i];
            answers.resize(n);
            int code;
            Py_BEGIN_ALLOW_THREADS code =
                varnolt_lookup_many(self->handle, texts.data(), n, answers.data(), sizeof answers[0]);
            Py_END_ALLOW_THREADS if (code != VARNOLT_OK) {
                RaiseResult(code, 0, nullptr);
                return false;
            }
            for (size_t i = 0; i < n; ++i) {
                if (!take(start + static_cast<Py_ssize_t>(i), answers[i], texts[i] == nullptr)) return false;
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

PyObject* DirectoryLookupMany(DirectoryObject* self, PyObject* numbers) {
    if (!Ready(self)) return nullptr;
    // A list of our own, whose length no other thread changes.
    Numbers given;
    given.list = PySequence_List(numbers);
    given.missing = given.list ? PandasMissing() : nullptr;
    PyObject* result = given.missing ? PyList_New(PyList_GET_SIZE(given.list)) : nullptr;
    const bool done = result && AnswerAll(self, given, [&](Py_ssize_t i, const varnolt_answer& a, bool) {
                          PyObject* answer = MakeAnswer(self, a);
                          if (answer) PyList_SET_ITEM(result, i, answer);
                          return answer != nullptr;
                      });
    Py_XDECREF(given.list);
    Py_XDECREF(given.missing);
    if (!done) Py_CLEAR(result);
    return result;
}

// annotate's columns. `numbers` is a list, or a column of int64 or float64;
// `columns` an int32 array of (fields, numbers) that is filled: each
// number's status (-1 where the number is missing), its key (uint32 bits),
// and for each text its code among the categories. Returns the categories,
// a list of str for each text. The caller makes the columns, so that
// running out of memory for them is a MemoryError before anything is done.
PyObject* DirectoryColumns(DirectoryObject* self, PyObject* args) {
    PyObject* given;
    PyObject* out;
    Numbers numbers;
    HeldBuffer columns;
    if (!Ready(self) || !PyArg_ParseTuple(args, "OO:_columns", &given, &out) || !numbers.Open(given) ||
        !columns.Get(out, PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS))
        return nullptr;
    const Py_ssize_t count = numbers.Count();
    const Py_buffer& view = columns.view;
    const std::string_view format = view.format ? view.format : "B";  // int32: i, or l where long has 32 bits
    if (view.ndim != 2 || view.shape[0] != kFields || view.shape[1] != count || view.itemsize != 4 || format.empty() ||
        (format.back() != 'i' && format.back() != 'l')) {
        PyErr_Format(PyExc_ValueError, "columns are an int32 array of (%d, %zd)", kFields, count);
        return nullptr;
    }
    numbers.missing = PandasMissing();
    if (!numbers.missing) return nullptr;
    auto* column = static_cast<int32_t*>(view.buf);
    std::vector<int32_t> codeOfId[kTexts];
    constexpr std::array<int32_t, kTexts> kUnseen = [] {
        std::array<int32_t, kTexts> unseen{};
        unseen.fill(-1);
        return unseen;
    }();
    std::vector<std::array<int32_t, kTexts>> codesOfSet;
    PyObject* categories = PyTuple_New(kTexts);
    for (Py_ssize_t f = 0; categories && f < kTexts; ++f) {
        PyObject* list = PyList_New(0);
        if (list)
            PyTuple_SET_ITEM(categories, f, list);
        else
            Py_CLEAR(categories);
    }
    const bool done = categories && AnswerAll(self, numbers, [&](Py_ssize_t i, const varnolt_answer& a, bool missing) {
                          column[i] = missing ? -1 : a.status;
                          const uint32_t key = missing ? 0 : a.key;
                          std::memcpy(&column[count + i], &key, sizeof key);
                          if (missing) {
                              for (int f = 0; f < kTexts; ++f) column[(2 + f) * count + i] = -1;
                              return true;
                          }
                          uint32_t serial;
                          const TextCache::Set* set = self->texts->FindSet(TextKeys(a).keys, &serial);
                          if (!set) return false;
                          if (serial >= codesOfSet.size()) codesOfSet.resize(serial + 1, kUnseen);
                          std::array<int32_t, kTexts>& codes = codesOfSet[serial];
                          if (codes[0] < 0) {
                              // A set first seen in this call: its texts' codes,
                              // each text once among its categories.
                              for (int f = 0; f < kTexts; ++f) {
                                  std::vector<int32_t>& known = codeOfId[f];
                                  const uint32_t id = set->ids[f];
                                  if (id >= known.size()) known.resize(id + 1, -1);
                                  PyObject* list = PyTuple_GET_ITEM(categories, f);
                                  if (known[id] < 0) {
                                      known[id] = static_cast<int32_t>(PyList_GET_SIZE(list));
                                      if (PyList_Append(list, set->texts[f]) < 0) return false;
                                  }
                                  codes[f] = known[id];
                              }
                          }
                          for (int f = 0; f < kTexts; ++f) column[(2 + f) * count + i] = codes[f];
                          return true;
                      });
    Py_DECREF(numbers.missing);
    if (!done) Py_CLEAR(categories);
    return categories;
}

PyObject* DirectoryGetPath(DirectoryObject* self, void*) {
    PyObject* path = self->path ? self->path : Py_None;
    Py_INCREF(path);
    return path;
}

PyMethodDef directoryMethods[] = {
    {"lookup", reinterpret_cast<PyCFunction>(DirectoryLookup), METH_O,
     "lookup($self, number, /)\n--\n\n"
     "The answer for one number as people write it: \"13912345678\",\n"
     "\"0755-8888 8888\", \"+86 139 1234 5678\", \"Tel: 010-1234 5678 ext. 8\",\n"
     "or an integer such as 13912345678, numpy's and pandas' too. Labels\n"
     "before the number and an extension after it are skipped; another\n"
     "country's number, or text with too few digits or that is not Unicode,\n"
     "has no area (status 'foreign' or 'invalid')."},
    {"lookup_many", reinterpret_cast<PyCFunction>(DirectoryLookupMany), METH_O,
     "lookup_many($self, numbers, /)\n--\n\n"
     "The answers for an iterable of numbers (a list, a numpy array, a pandas\n"
     "Series), as a list in the same order: what lookup gives for each. None,\n"
     "NaN, pandas' NA and text that is not Unicode (a lone surrogate) are\n"
     "answered 'invalid'. Other threads run while the numbers are answered."},
    {"_columns", reinterpret_cast<PyCFunction>(DirectoryColumns), METH_VARARGS,
     "_columns($self, numbers, columns, /)\n--\n\nFills annotate's columns; returns the categories."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef directoryGetters[] = {
    {"path", reinterpret_cast<getter>(DirectoryGetPath), nullptr, "The directory file's path, as given.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot directorySlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(DirectoryDealloc)},
    {Py_tp_doc, const_cast<char*>("Directory(path)\n--\n\nAn open directory file, read whole when opened.")},
    {Py_tp_methods, directoryMethods},
    {Py_tp_getset, directoryGetters},
    {Py_tp_init, reinterpret_cast<void*>(DirectoryInit)},
    {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
    {0, nullptr},
};

PyType_Spec directorySpec = {"varnolt._varnolt.Directory", sizeof(DirectoryObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, directorySlots};

PyObject* Version(PyObject*, PyObject*) { return PyUnicode_FromString(varnolt_version()); }

PyMethodDef moduleMethods[] = {
    {"version", Version, METH_NOARGS, "version()\n--\n\nlibvarnolt's version."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef moduleDef = {
    PyModuleDef_HEAD_INIT,
    "varnolt._varnolt",
    "libvarnolt's lookups; use the varnolt package.",
    -1,
    moduleMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

bool AddError(PyObject* module, const char* name, PyObject** slot, PyObject* bases, const char* doc) {
    *slot = PyErr_NewExceptionWithDoc(name, doc, bases, nullptr);
    return *slot && PyModule_AddObjectRef(module, std::strrchr(name, '.') + 1, *slot) == 0;
}

}  // namespace

PyMODINIT_FUNC PyInit__varnolt(void) {
    PyObject* module = PyModule_Create(&moduleDef);
    if (!module) return nullptr;
    for (int s = VARNOLT_FOUND; s <= VARNOLT_INVALID; ++s) {
        statusNames[s] = PyUnicode_InternFromString(varnolt_status_name(s));
        if (!statusNames[s]) goto fail;
    }
    answerType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&answerSpec));
    if (!answerType || PyModule_AddObjectRef(module, "Answer", reinterpret_cast<PyObject*>(answerType)) < 0) goto fail;
    {
        PyObject* names = PyTuple_New(kFields);
        for (Py_ssize_t i = 0; names && i < kFields; ++i) {
            PyObject* name = PyUnicode_InternFromString(kFieldNames[i]);
            if (name)
                PyTuple_SET_ITEM(names, i, name);
            else
                Py_CLEAR(names);
        }
        const bool set = names &&
                         PyObject_SetAttrString(reinterpret_cast<PyObject*>(answerType), "_fields", names) == 0 &&
                         PyObject_SetAttrString(reinterpret_cast<PyObject*>(answerType), "__match_args__", names) == 0;
        Py_XDECREF(names);
        if (!set) goto fail;
    }
    if (PyModule_AddObject(module, "Directory", PyType_FromSpec(&directorySpec)) < 0) goto fail;
    {
        PyObject* missingBases = nullptr;
        const bool added =
            AddError(module, "varnolt.Error", &errorType, PyExc_OSError,
                     "A directory file that cannot be used: an OSError whose errno, strerror and filename are the\n"
                     "system's reason where there is one; .code is libvarnolt's result code, .reason its text,\n"
                     ".path the file.") &&
            (missingBases = PyTuple_Pack(2, errorType, PyExc_FileNotFoundError)) &&
            AddError(module, "varnolt.MissingError", &missingType, missingBases, "No directory file at the path.") &&
            AddError(module, "varnolt.DamagedError", &damagedType, errorType,
                     "The file is not a directory file, or a damaged one.");
        Py_XDECREF(missingBases);
        if (!added) goto fail;
    }
    return module;
fail:
    Py_DECREF(module);
    return nullptr;
}
