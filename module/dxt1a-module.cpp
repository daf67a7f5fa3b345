// The Python binding of the RGBA decoder: `_dxt1a.decodeDXT1A(data)` returns
// the four RGBA row planes of a run of DXT1 blocks as a tuple of byte strings
// (row-planes-binding.h), and `_dxt1a.decoder` names the decoder variant that
// this CPU runs.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "block-decoder.h"
#include "row-planes-binding.h"

static PyObject *decodeDXT1A(PyObject *self, PyObject *args)
{
    (void)self;
    return decodeRowPlanes<16, decodeDXT1ABlocks>(args);
}

static PyMethodDef functions[] = {
    {"decodeDXT1A", decodeDXT1A, METH_VARARGS,
     "decodeDXT1A(blocks) -> four row planes of RGBA pixels, 16 bytes per 8-byte DXT1 block."},
    {NULL, NULL, 0, NULL}
};

#if PY_MAJOR_VERSION >= 3
static struct PyModuleDef moduleDefinition = {
    PyModuleDef_HEAD_INIT, "_dxt1a", NULL, -1, functions, NULL, NULL, NULL, NULL
};

DXT1_ENTRY(PyObject *) PyInit__dxt1a(void)
{
    PyObject *module = PyModule_Create(&moduleDefinition);
    if (module != NULL && PyModule_AddStringConstant(module, "decoder", decoderLabel()) != 0) {
        Py_DECREF(module);
        return NULL;
    }
    return module;
}
#else
DXT1_ENTRY(void) init_dxt1a(void)
{
    // On failure the interpreter reports the exception that is set.
    PyObject *module = Py_InitModule4("_dxt1a", functions, NULL, NULL, PYTHON_API_VERSION);
    if (module != NULL)
        PyModule_AddStringConstant(module, "decoder", decoderLabel());
}
#endif
