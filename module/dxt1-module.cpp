// The Python binding: `_dxt1.decodeDXT1(data)` returns the four row planes of
// a run of DXT1 blocks as a tuple of byte strings. One source serves Python 2
// (what "s#" takes in, str out) and Python 3 (any C-contiguous bytes-like
// object in, through a buffer released on every path; bytes out).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdlib>

#include "dxt1-decoder.h"
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

// The entry point is the one exported symbol. Spelled out rather than with
// PyMODINIT_FUNC, which not every header version marks visible.
#define DXT1_ENTRY(type) extern "C" __attribute__((visibility("default"))) type

static PyObject *decodeDXT1(PyObject *self, PyObject *args)
{
    const char *data;
    Length len, outlen;
    unsigned char *outdata[4] = {NULL, NULL, NULL, NULL};
    PyObject *returned = NULL;
    int i;

    (void)self;
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
    if (!rowPlaneLength(len, outlen)) {
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

    decodeDXT1Blocks(reinterpret_cast<const unsigned char *>(data), static_cast<size_t>(len), outdata);

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

static PyMethodDef functions[] = {
    {"decodeDXT1", decodeDXT1, METH_VARARGS, "decodeDXT1() doc string"},
    {NULL, NULL, 0, NULL}
};

#if PY_MAJOR_VERSION >= 3
static struct PyModuleDef moduleDefinition = {
    PyModuleDef_HEAD_INIT, "_dxt1", NULL, -1, functions, NULL, NULL, NULL, NULL
};

DXT1_ENTRY(PyObject *) PyInit__dxt1(void)
{
    return PyModule_Create(&moduleDefinition);
}
#else
DXT1_ENTRY(void) init_dxt1(void)
{
    Py_InitModule4("_dxt1", functions, NULL, NULL, PYTHON_API_VERSION);
}
#endif
