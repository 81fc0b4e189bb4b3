// varnolt._varnolt: libvarnolt's directories and answers as Python objects.
// The texts of answers are made into str objects once per directory, so a
// lookup costs a tuple and a few references.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <structmember.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lib/varnolt.h"

namespace {

PyTypeObject* answerType;
PyObject* statusNames[4];
PyObject* errorType;
PyObject* missingType;
PyObject* damagedType;

// A batch is answered in slices: the texts and answers of one slice are
// all the memory a batch needs beyond its result, and the GIL is let go
// for each.
constexpr Py_ssize_t kSlice = 16384;

// Each text of a directory's answers, as a str, by the address libvarnolt
// gives it: an open-addressing table, as a batch asks it for five texts a
// number. `id` is the same for equal texts, which annotate's categories
// need. Only touched with the GIL held.
struct TextCache {
    struct Slot {
        const char* key = nullptr;
        PyObject* text = nullptr;
        uint32_t id = 0;
    };
    std::vector<Slot> slots = std::vector<Slot>(1024);
    size_t used = 0;
    std::unordered_map<std::string_view, uint32_t> ids;
    std::vector<PyObject*> byId;  // borrowed from the slots

    ~TextCache() {
        for (Slot& s : slots) Py_XDECREF(s.text);
    }

    static size_t Hash(const char* key) { return (reinterpret_cast<uintptr_t>(key) >> 3) * 0x9E3779B97F4A7C15ull; }

    const Slot* Find(const char* key) {
        const size_t mask = slots.size() - 1;
        for (size_t at = Hash(key) & mask;; at = (at + 1) & mask) {
            if (slots[at].key == key) return &slots[at];
            if (!slots[at].key) return Add(key, at);
        }
    }

    const Slot* Add(const char* key, size_t at) {
        if (2 * (used + 1) > slots.size()) {
            Grow();
            return Find(key);
        }
        PyObject* text =
            PyUnicode_DecodeUTF8(key, static_cast<Py_ssize_t>(std::char_traits<char>::length(key)), "replace");
        if (!text) return nullptr;
        auto [named, fresh] = ids.try_emplace(std::string_view(key), static_cast<uint32_t>(byId.size()));
        if (fresh) byId.push_back(text);
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
};

// Integers as a column of numbers read by pandas holds them (int64, or
// float64 where some are missing): "" where no telephone number is, so that
// they are answered 'invalid'.
const char* WriteInteger(long long value, char (&digits)[32]) {
    if (value < 0) return "";
    *std::to_chars(digits, digits + sizeof digits - 1, value).ptr = '\0';
    return digits;
}

const char* WriteFloat(double value, char (&digits)[32]) {
    if (std::isnan(value)) return nullptr;
    if (!(value >= 0 && value < 1e15) || value != std::floor(value)) return "";
    return WriteInteger(static_cast<long long>(value), digits);
}

// The UTF-8 text of one number as a caller holds it: str, bytes, int or
// float. Missing (None, NaN): null with no error set. Integers are written
// into `digits`.
const char* TextOf(PyObject* number, char (&digits)[32]) {
    if (PyUnicode_Check(number)) return PyUnicode_AsUTF8AndSize(number, nullptr);
    if (PyBytes_Check(number)) return PyBytes_AS_STRING(number);
    if (number == Py_None) return nullptr;
    if (PyLong_Check(number) && !PyBool_Check(number)) {
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(number, &overflow);
        if (value == -1 && PyErr_Occurred()) return nullptr;
        return overflow ? "" : WriteInteger(value, digits);
    }
    if (PyFloat_Check(number)) return WriteFloat(PyFloat_AS_DOUBLE(number), digits);
    PyErr_Format(PyExc_TypeError, "a number is given as str, bytes or int, not %.100s", Py_TYPE(number)->tp_name);
    return nullptr;
}

// The numbers of a batch: a list of objects, or a column of int64 or
// float64. `missing` holds objects that stand for a missing number (pandas'
// NA and NaT), besides None and NaN.
struct Numbers {
    PyObject* list = nullptr;
    Py_buffer column{};
    char format = 0;
    PyObject* missing = nullptr;

    ~Numbers() {
        if (format) PyBuffer_Release(&column);
    }

    bool Open(PyObject* numbers) {
        if (PyList_Check(numbers)) {
            list = numbers;
            return true;
        }
        if (PyObject_GetBuffer(numbers, &column, PyBUF_FORMAT | PyBUF_ND) < 0) return false;
        const char* f = column.format ? column.format : "B";
        if (column.ndim == 1 && column.itemsize == 8 && f[1] == '\0' && (*f == 'q' || *f == 'l' || *f == 'd')) {
            format = *f == 'd' ? 'd' : 'q';
            return true;
        }
        PyBuffer_Release(&column);
        PyErr_SetString(PyExc_TypeError, "numbers are a list, or a column of int64 or float64");
        return false;
    }

    Py_ssize_t Count() const { return list ? PyList_GET_SIZE(list) : column.shape[0]; }

    // Null with no error set for a missing number.
    const char* TextAt(Py_ssize_t i, char (&digits)[32]) const {
        if (format == 'q') return WriteInteger(static_cast<const int64_t*>(column.buf)[i], digits);
        if (format == 'd') return WriteFloat(static_cast<const double*>(column.buf)[i], digits);
        PyObject* number = PyList_GET_ITEM(list, i);
        for (Py_ssize_t m = 0; missing && m < PyTuple_GET_SIZE(missing); ++m) {
            if (number == PyTuple_GET_ITEM(missing, m)) return nullptr;  // NA == x is NA, not a bool
        }
        return TextOf(number, digits);
    }
};

PyObject* RaiseResult(int code, PyObject* path) {
    PyObject* type = code == VARNOLT_MISSING                                          ? missingType
                     : code >= VARNOLT_NOT_DIRECTORY && code <= VARNOLT_DAMAGED_ITEMS ? damagedType
                     : code == VARNOLT_NO_MEMORY                                      ? PyExc_MemoryError
                                                                                      : errorType;
    const char* reason = varnolt_errstr(code);
    if (type == PyExc_MemoryError) return PyErr_NoMemory();
    PyObject* error = path ? PyObject_CallFunction(type, "N", PyUnicode_FromFormat("%s: %U", reason, path))
                           : PyObject_CallFunction(type, "s", reason);
    if (!error) return nullptr;
    PyObject* number = PyLong_FromLong(code);
    PyObject* text = PyUnicode_FromString(reason);
    const bool set = number && text && PyObject_SetAttrString(error, "code", number) == 0 &&
                     PyObject_SetAttrString(error, "reason", text) == 0 &&
                     PyObject_SetAttrString(error, "path", path ? path : Py_None) == 0;
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
constexpr int kTexts = 5;
const char* const kFieldNames[] = {"status", "key", "area", "type", "province", "city", "area_code", nullptr};

struct AnswerObject {
    PyObject_HEAD PyObject* texts[kTexts];
    uint32_t key;
    uint8_t status;
};

PyObject* MakeAnswer(DirectoryObject* d, const varnolt_answer& a) {
    auto* answer = PyObject_New(AnswerObject, answerType);
    if (!answer) return nullptr;
    std::fill(std::begin(answer->texts), std::end(answer->texts), nullptr);
    answer->status = static_cast<uint8_t>(a.status);
    answer->key = static_cast<uint32_t>(a.key);
    const char* fields[] = {a.area, a.type, a.province, a.city, a.area_code};
    for (int i = 0; i < kTexts; ++i) {
        const TextCache::Slot* slot = d->texts->Find(fields[i]);
        answer->texts[i] = slot ? Py_NewRef(slot->text) : nullptr;
        if (!slot) {
            Py_DECREF(answer);
            return nullptr;
        }
    }
    return reinterpret_cast<PyObject*>(answer);
}

PyObject* AnswerField(AnswerObject* a, Py_ssize_t i) {
    if (i == 0) return Py_NewRef(statusNames[a->status]);
    if (i == 1) return PyLong_FromUnsignedLong(a->key);
    return Py_NewRef(a->texts[i - 2]);
}

PyObject* AnswerNew(PyTypeObject* type, PyObject* args, PyObject* keywords) {
    PyObject* status;
    unsigned long key;
    PyObject* texts[kTexts];
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "UkUUUUU:Answer", const_cast<char**>(kFieldNames), &status, &key,
                                     &texts[0], &texts[1], &texts[2], &texts[3], &texts[4]))
        return nullptr;
    int named = 0;
    while (named < 4 && PyUnicode_Compare(status, statusNames[named]) != 0) ++named;
    if (named == 4) return PyErr_Format(PyExc_ValueError, "no such status: %R", status);
    auto* answer = reinterpret_cast<AnswerObject*>(type->tp_alloc(type, 0));
    if (!answer) return nullptr;
    answer->status = static_cast<uint8_t>(named);
    answer->key = static_cast<uint32_t>(key);
    for (int i = 0; i < kTexts; ++i) answer->texts[i] = Py_NewRef(texts[i]);
    return reinterpret_cast<PyObject*>(answer);
}

void AnswerDealloc(AnswerObject* a) {
    PyTypeObject* type = Py_TYPE(a);
    for (PyObject* text : a->texts) Py_XDECREF(text);
    type->tp_free(reinterpret_cast<PyObject*>(a));
    Py_DECREF(type);
}

PyObject* AnswerTuple(AnswerObject* a, PyObject* = nullptr) {
    PyObject* tuple = PyTuple_New(2 + kTexts);
    for (Py_ssize_t i = 0; tuple && i < 2 + kTexts; ++i) {
        PyObject* field = AnswerField(a, i);
        if (!field)
            Py_CLEAR(tuple);
        else
            PyTuple_SET_ITEM(tuple, i, field);
    }
    return tuple;
}

Py_ssize_t AnswerLength(PyObject*) { return 2 + kTexts; }

PyObject* AnswerItem(AnswerObject* a, Py_ssize_t i) {
    if (i < 0 || i >= 2 + kTexts) {
        PyErr_SetString(PyExc_IndexError, "Answer index out of range");
        return nullptr;
    }
    return AnswerField(a, i);
}

PyObject* AnswerRepr(AnswerObject* a) {
    PyObject* key = PyLong_FromUnsignedLong(a->key);
    if (!key) return nullptr;
    PyObject* text = PyUnicode_FromFormat(
        "varnolt.Answer(status=%R, key=%S, area=%R, type=%R, province=%R, city=%R, area_code=%R)",
        statusNames[a->status], key, a->texts[0], a->texts[1], a->texts[2], a->texts[3], a->texts[4]);
    Py_DECREF(key);
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
    for (Py_ssize_t i = 0; dict && i < 2 + kTexts; ++i) {
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

PyMemberDef answerMembers[] = {
    {"area", T_OBJECT_EX, offsetof(AnswerObject, texts[0]), READONLY, "the home area: 江苏省常州市"},
    {"type", T_OBJECT_EX, offsetof(AnswerObject, texts[1]), READONLY,
     "the number type: 中国移动, 中国联通, 中国电信, 中国广电, 移动电话 or 固定电话"},
    {"province", T_OBJECT_EX, offsetof(AnswerObject, texts[2]), READONLY, "江苏省; '' for a name with no province"},
    {"city", T_OBJECT_EX, offsetof(AnswerObject, texts[3]), READONLY,
     "常州市; several joined by 、 where one area code serves them"},
    {"area_code", T_OBJECT_EX, offsetof(AnswerObject, texts[4]), READONLY,
     "the city's area code (区号), such as 0519; '' where there is none"},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef answerGetters[] = {
    {"status", reinterpret_cast<getter>(AnswerStatus), nullptr,
     "'found', 'unknown' (a Chinese number the directory does not cover), 'foreign' or 'invalid'", nullptr},
    {"key", reinterpret_cast<getter>(AnswerKey), nullptr, "the number key looked up; 0 for 'foreign' and 'invalid'",
     nullptr},
    {"found", reinterpret_cast<getter>(AnswerFound), nullptr, "whether the status is 'found'", nullptr},
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
    {Py_tp_members, answerMembers},
    {Py_tp_getset, answerGetters},
    {Py_tp_methods, answerMethods},
    {Py_tp_doc, const_cast<char*>("Answer(status, key, area, type, province, city, area_code)\n--\n\n"
                                  "One number's answer. Read-only; unpacks and indexes like a tuple of its seven\n"
                                  "fields, in that order. The texts are '' where there is nothing to say.")},
    {0, nullptr},
};

PyType_Spec answerSpec = {"varnolt.Answer", sizeof(AnswerObject), 0, Py_TPFLAGS_DEFAULT, answerSlots};

int DirectoryInit(DirectoryObject* self, PyObject* args, PyObject* keywords) {
    static const char* names[] = {"path", nullptr};
    PyObject* path = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "O&:Directory", const_cast<char**>(names), PyUnicode_FSDecoder,
                                     &path))
        return -1;
    // Another thread may be answering from the open handle without the GIL.
    const char* file = self->handle ? nullptr : PyUnicode_AsUTF8(path);
    if (!file) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "the directory is already open");
        Py_DECREF(path);
        return -1;
    }
    varnolt* handle = nullptr;
    int code;
    Py_BEGIN_ALLOW_THREADS code = varnolt_open(file, &handle);
    Py_END_ALLOW_THREADS if (code != VARNOLT_OK) {
        RaiseResult(code, path);
        Py_DECREF(path);
        return -1;
    }
    self->path = path;
    self->handle = handle;
    self->texts = new TextCache;
    return 0;
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
    char digits[32];
    const char* text = TextOf(number, digits);
    if (!text) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a number to look up, not None or NaN");
        return nullptr;
    }
    varnolt_answer answer;
    const int code = varnolt_lookup(self->handle, text, &answer, sizeof answer);
    if (code != VARNOLT_OK) return RaiseResult(code, nullptr);
    return MakeAnswer(self, answer);
}

// Answers every number, a slice at a time, handing each answer and its
// index to `take`, with the GIL held. A missing number reaches `take` with
// a null answer when `keepMissing`, else it is answered as empty text.
template <typename Take>
bool AnswerAll(DirectoryObject* self, const Numbers& numbers, bool keepMissing, Take take) {
    std::vector<const char*> texts;
    std::vector<varnolt_answer> answers;
    std::string written;  // the integers of one slice, NUL after each
    std::vector<std::pair<Py_ssize_t, size_t>> writtenAt;
    const Py_ssize_t count = numbers.Count();
    for (Py_ssize_t start = 0; start < count; start += kSlice) {
        const Py_ssize_t n = std::min(kSlice, count - start);
        texts.assign(static_cast<size_t>(n), nullptr);
        written.clear();
        writtenAt.clear();
        for (Py_ssize_t i = 0; i < n; ++i) {
            char digits[32];
            const char* text = numbers.TextAt(start + i, digits);
            if (!text && PyErr_Occurred()) return false;
            if (text == digits) {
                writtenAt.emplace_back(i, written.size());
                written.append(digits).push_back('\0');
            } else {
                texts[static_cast<size_t>(i)] = text;
            }
        }
        for (auto [i, at] : writtenAt) texts[static_cast<size_t>(i)] = written.data() + at;
        answers.resize(static_cast<size_t>(n));
        int code;
        Py_BEGIN_ALLOW_THREADS code =
            varnolt_lookup_many(self->handle, texts.data(), texts.size(), answers.data(), sizeof answers[0]);
        Py_END_ALLOW_THREADS if (code != VARNOLT_OK) {
            RaiseResult(code, nullptr);
            return false;
        }
        for (Py_ssize_t i = 0; i < n; ++i) {
            const bool gone = keepMissing && !texts[static_cast<size_t>(i)];
            if (!take(start + i, gone ? nullptr : &answers[static_cast<size_t>(i)])) return false;
        }
    }
    return true;
}

PyObject* DirectoryLookupMany(DirectoryObject* self, PyObject* numbers) {
    if (!Ready(self)) return nullptr;
    // A list of our own: no other thread can drop a text while the GIL is let go.
    PyObject* list = PySequence_List(numbers);
    if (!list) return nullptr;
    Numbers given;
    given.list = list;
    PyObject* result = PyList_New(PyList_GET_SIZE(list));
    const bool done = result && AnswerAll(self, given, false, [&](Py_ssize_t i, const varnolt_answer* a) {
                          PyObject* answer = MakeAnswer(self, *a);
                          if (answer) PyList_SET_ITEM(result, i, answer);
                          return answer != nullptr;
                      });
    Py_DECREF(list);
    if (!done) Py_CLEAR(result);
    return result;
}

// annotate's columns: (statuses as int8 codes, -1 where the number is
// missing; keys as uint32; then for area, type, province, city and
// area_code a pair (int32 codes, categories)). `numbers` is a list or a
// column of int64 or float64; `missing` a tuple of the objects that stand
// for a missing number.
PyObject* DirectoryColumns(DirectoryObject* self, PyObject* args) {
    PyObject* given;
    Numbers numbers;
    if (!Ready(self) || !PyArg_ParseTuple(args, "OO!:_columns", &given, &PyTuple_Type, &numbers.missing) ||
        !numbers.Open(given))
        return nullptr;
    const Py_ssize_t count = numbers.Count();
    const size_t n = static_cast<size_t>(count);
    std::vector<int8_t> statuses(n, -1);
    std::vector<uint32_t> keys(n, 0);
    std::vector<int32_t> codes[5];
    std::vector<int32_t> codeOfId[5];
    PyObject* categories[5] = {};
    for (int f = 0; f < 5; ++f) {
        codes[f].assign(n, -1);
        categories[f] = PyList_New(0);
    }
    bool done = true;
    for (PyObject* list : categories) done = done && list;
    done = done && AnswerAll(self, numbers, true, [&](Py_ssize_t i, const varnolt_answer* a) {
               if (!a) return true;
               statuses[i] = static_cast<int8_t>(a->status);
               keys[i] = static_cast<uint32_t>(a->key);
               const char* fields[] = {a->area, a->type, a->province, a->city, a->area_code};
               for (int f = 0; f < 5; ++f) {
                   const TextCache::Slot* slot = self->texts->Find(fields[f]);
                   if (!slot) return false;
                   std::vector<int32_t>& known = codeOfId[f];
                   if (slot->id >= known.size()) known.resize(slot->id + 1, -1);
                   if (known[slot->id] < 0) {
                       known[slot->id] = static_cast<int32_t>(PyList_GET_SIZE(categories[f]));
                       if (PyList_Append(categories[f], slot->text) < 0) return false;
                   }
                   codes[f][i] = known[slot->id];
               }
               return true;
           });
    PyObject* result = nullptr;
    if (done) {
        auto bytes = [](const auto& v) {
            return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(v.data()),
                                                 static_cast<Py_ssize_t>(v.size() * sizeof v[0]));
        };
        result = Py_BuildValue("(NN(NO)(NO)(NO)(NO)(NO))", bytes(statuses), bytes(keys), bytes(codes[0]), categories[0],
                               bytes(codes[1]), categories[1], bytes(codes[2]), categories[2], bytes(codes[3]),
                               categories[3], bytes(codes[4]), categories[4]);
    }
    for (PyObject* list : categories) Py_XDECREF(list);
    return result;
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
     "or an int such as 13912345678. Labels before the number and an\n"
     "extension after it are skipped; another country's number, or text with\n"
     "too few digits, has no area (status 'foreign' or 'invalid')."},
    {"lookup_many", reinterpret_cast<PyCFunction>(DirectoryLookupMany), METH_O,
     "lookup_many($self, numbers, /)\n--\n\n"
     "The answers for an iterable of numbers, as a list in the same order:\n"
     "what lookup gives for each. None and NaN are answered as empty text\n"
     "(status 'invalid'). Other threads run while the numbers are answered."},
    {"_columns", reinterpret_cast<PyCFunction>(DirectoryColumns), METH_VARARGS,
     "_columns($self, numbers, missing, /)\n--\n\nannotate's columns as buffers."},
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
        PyObject* names = PyTuple_New(2 + kTexts);
        for (Py_ssize_t i = 0; names && i < 2 + kTexts; ++i)
            PyTuple_SET_ITEM(names, i, PyUnicode_FromString(kFieldNames[i]));
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
            AddError(module, "varnolt.Error", &errorType, nullptr,
                     "A directory file that cannot be used; .code is libvarnolt's result code, .reason its text, "
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
