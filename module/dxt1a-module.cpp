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

MODULE_WITH_DECODER(_dxt1a, functions)
