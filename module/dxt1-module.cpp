// The Python binding: `_dxt1.decodeDXT1(data)` returns the four RGB row planes
// of a run of DXT1 blocks as a tuple of byte strings (row-planes-binding.h).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "block-decoder.h"
#include "row-planes-binding.h"

static PyObject *decodeDXT1(PyObject *self, PyObject *args)
{
    (void)self;
    return decodeRowPlanes<12, decodeDXT1Blocks>(args);
}

static PyMethodDef functions[] = {
    {"decodeDXT1", decodeDXT1, METH_VARARGS, "decodeDXT1() doc string"},
    {NULL, NULL, 0, NULL}
};

#if PY_MAJOR_VERSION >= 3
static struct PyModuleDef moduleDefinition = {
    PyModuleDef_HEAD_INIT, "_dxt1", NULL, -1, functions, NULL, NULL, NULL, NULL
};

MODULE_ENTRY(PyObject *) PyInit__dxt1(void)
{
    if (!decoderVariantRuns())
        return NULL;
    return PyModule_Create(&moduleDefinition);
}
#else
MODULE_ENTRY(void) init_dxt1(void)
{
    if (!decoderVariantRuns())
        return;
    Py_InitModule4("_dxt1", functions, NULL, NULL, PYTHON_API_VERSION);
}
#endif
