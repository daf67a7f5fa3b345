// What every module of the package shares: a function that takes one
// bytes-like argument, decodes its blocks into four row planes with a decoder
// of the core library, and returns them as a tuple of byte strings. One
// source serves Python 2 (what "s#" takes in, str out) and Python 3 (any
// C-contiguous bytes-like object in, through a buffer released on every path;
// bytes out). Included by each module's source after Python.h.
#ifndef DXT1_ROW_PLANES_BINDING_H
#define DXT1_ROW_PLANES_BINDING_H

#include <cstdlib>

#include "plane-size.h"

#if PY_VERSION_HEX >= 0x02050000
typedef Py_ssize_t Length;
#else
typedef int Length; // "s#" stores an int before Py_ssize_t existed
#endif

#if PY_MAJOR_VERSION >= 3
#define PlaneString_FromStringAndSize PyBytes_FromStringAndSize
#else
#define PlaneString_FromStringAndSize PyString_FromStringAndSize
#endif

// The entry point is each module's one exported symbol. Spelled out rather
// than with PyMODINIT_FUNC, which not every header version marks visible.
#define DXT1_ENTRY(type) extern "C" __attribute__((visibility("default"))) type

typedef void (*BlockDecoder)(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);

// The body of a module function: `Decode` writes BlockRowBytes bytes per
// block to each plane.
template <unsigned BlockRowBytes, BlockDecoder Decode>
PyObject *decodeRowPlanes(PyObject *args)
{
    const char *data;
    Length len, outlen;
    unsigned char *outdata[4] = {NULL, NULL, NULL, NULL};
    PyObject *returned = NULL;
    int i;

#if PY_MAJOR_VERSION >= 3
    Py_buffer view; // lent by the argument until released at done
    if (!PyArg_ParseTuple(args, "y*", &view))
        return NULL;
    data = static_cast<const char *>(view.buf);
    len = view.len;
#else
    if (!PyArg_ParseTuple(args, "s#", &data, &len))
        return NULL;
#endif
    if (!planeLength<BlockRowBytes>(len, outlen)) {
        PyErr_NoMemory();
        goto done;
    }

    for (i = 0; i < 4; i++) {
        // One byte at least, so that an empty plane never looks like a failure.
        outdata[i] = static_cast<unsigned char *>(std::malloc(outlen ? static_cast<size_t>(outlen) : 1));
        if (outdata[i] == NULL) {
            PyErr_NoMemory();
            goto done;
        }
    }

    Decode(reinterpret_cast<const unsigned char *>(data), static_cast<size_t>(len), outdata);

    returned = PyTuple_New(4);
    if (returned == NULL)
        goto done;
    for (i = 0; i < 4; i++) {
        PyObject *buf = PlaneString_FromStringAndSize(reinterpret_cast<const char *>(outdata[i]), outlen);
        if (buf == NULL) {
            Py_DECREF(returned); // also releases the strings already stored
            returned = NULL;
            goto done;
        }
        PyTuple_SET_ITEM(returned, i, buf);
    }

done:
    for (i = 0; i < 4; i++)
        std::free(outdata[i]);
#if PY_MAJOR_VERSION >= 3
    PyBuffer_Release(&view);
#endif
    return returned;
}

#endif
