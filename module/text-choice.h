// Which of a few names a Python text argument is, for the modules' text
// options (a colour rule, a field kind, a sample type, keyword names).
// Included by each module's source after Python.h.
#ifndef TEXT_CHOICE_H
#define TEXT_CHOICE_H

#include <cstddef>
#include <cstring>

// Which of `names` the text `object` is (a str, or in Python 2 a unicode of
// ASCII characters): its index, `count` where none, -1 with an exception set.
// Only the characters are compared, so that no code of the caller's runs (a
// subclass's __eq__) and no bytes are compared with text (a warning, or under
// -bb an error, where a wrong name should get the caller's ValueError).
static inline int textIndex(PyObject *object, const char *const *names, int count)
{
#if PY_MAJOR_VERSION >= 3
    if (!PyUnicode_Check(object))
        return count;
    for (int i = 0; i < count; i++)
        if (PyUnicode_CompareWithASCIIString(object, names[i]) == 0)
            return i;
    return count;
#else
    PyObject *bytes;
    if (PyString_Check(object)) {
        bytes = object;
        Py_INCREF(bytes);
    } else if (PyUnicode_Check(object)) {
        bytes = PyUnicode_AsASCIIString(object);
        if (bytes == NULL) {
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError))
                return -1;
            PyErr_Clear(); // not ASCII, so none of the names
            return count;
        }
    } else {
        return count;
    }
    int found = count;
    for (int i = 0; i < count && found == count; i++)
        if (std::strlen(names[i]) == static_cast<std::size_t>(PyString_GET_SIZE(bytes)) &&
            std::memcmp(PyString_AS_STRING(bytes), names[i], PyString_GET_SIZE(bytes)) == 0)
            found = i;
    Py_DECREF(bytes);
    return found;
#endif
}

#endif
