// The Python binding of the block family: `_bcn.decodeBC1(data)` to
// `decodeBC5(data, signed=False)` and `decodeBC7(data)` return the four row planes of a run of
// blocks as a tuple of byte strings (row-planes-binding.h), each taking the
// colour rule as the keyword `rule` ('design' or 'gpu'); `_bcn.decoder` names
// the decoder variant that this CPU runs. Unlike `_dxt1`, the functions let
// other threads run while they decode a long run.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>

#include "block-decoder.h"
#include "row-planes-binding.h"

// Runs this long take tens of microseconds or more, against the few that
// handing the interpreter lock over and back costs: 4096 blocks are a
// 256 × 256 texture.
static const Length kReleaseLockFromBlocks = 4096;

// Whether `object` is the text `name`: a str (or in Python 2 a unicode) of
// those characters. The characters alone are compared, so that no code of
// the caller's runs (a subclass's __eq__) and no bytes are compared with text
// (a warning, or under -bb an error, rather than the ValueError a wrong rule
// gets). 1, 0, or -1 with an exception set.
static int equalsText(PyObject *object, const char *name)
{
#if PY_MAJOR_VERSION >= 3
    return PyUnicode_Check(object) && PyUnicode_CompareWithASCIIString(object, name) == 0;
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
            PyErr_Clear(); // not ASCII, so not the name
            return 0;
        }
    } else {
        return 0;
    }
    const bool equal = std::strlen(name) == static_cast<std::size_t>(PyString_GET_SIZE(bytes)) &&
                       std::memcmp(PyString_AS_STRING(bytes), name, PyString_GET_SIZE(bytes)) == 0;
    Py_DECREF(bytes);
    return equal;
#endif
}

// The options after the blocks: `signed` (where the format has a signed
// form), positional or keyword, and `rule`, keyword only. Returns 0 with an
// exception set on failure.
static int parseOptions(const char *function, PyObject *args, PyObject *kwargs, bool takesSigned, bool *isSigned,
                        ColourRule *rule)
{
    const Py_ssize_t positional = PyTuple_GET_SIZE(args);
    const Py_ssize_t mostPositional = takesSigned ? 2 : 1;
    PyObject *signedObject = positional == 2 ? PyTuple_GET_ITEM(args, 1) : NULL;
    PyObject *ruleObject = NULL;
    if (positional > mostPositional) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional argument%s (%d given)", function,
                     static_cast<int>(mostPositional), mostPositional == 1 ? "" : "s", static_cast<int>(positional));
        return 0;
    }
    if (kwargs != NULL) {
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            int match = equalsText(key, "rule");
            if (match == 1) {
                ruleObject = value;
                continue;
            }
            if (match == 0 && takesSigned)
                match = equalsText(key, "signed");
            if (match < 0)
                return 0;
            if (match == 0) {
                PyObject *name = PyObject_Repr(key);
                if (name != NULL) {
#if PY_MAJOR_VERSION >= 3
                    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument %U", function, name);
#else
                    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument %s", function,
                                 PyString_AsString(name));
#endif
                    Py_DECREF(name);
                }
                return 0;
            }
            if (signedObject != NULL) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument 'signed'", function);
                return 0;
            }
            signedObject = value;
        }
    }

    *isSigned = false;
    if (signedObject != NULL) {
        const int truth = PyObject_IsTrue(signedObject);
        if (truth < 0)
            return 0;
        *isSigned = truth == 1;
    }
    *rule = ColourRule::design;
    if (ruleObject != NULL) {
        const int design = equalsText(ruleObject, "design");
        const int gpu = design == 0 ? equalsText(ruleObject, "gpu") : 0;
        if (design < 0 || gpu < 0)
            return 0;
        if (design == 0 && gpu == 0) {
            PyErr_SetString(PyExc_ValueError, "rule must be 'design' or 'gpu'");
            return 0;
        }
        if (gpu == 1)
            *rule = ColourRule::gpu;
    }
    return 1;
}

// A module function's body: the options, then the blocks, then the planes of
// `format` (or `signedFormat` when signed is true). The options are read
// first: reading them may run the caller's code (a `__bool__`, an `__eq__`),
// which could close or resize what Python 2 lends the blocks from (an mmap,
// an array) had its bytes already been taken.
// `blocksFormat` parses the blocks, the function's name after its colon, so
// that the parser's errors name it.
static PyObject *decodeFormat(const char *function, const char *blocksFormat, PyObject *args, PyObject *kwargs,
                              BlockFormat format, BlockFormat signedFormat)
{
    bool isSigned;
    ColourRule rule;
    if (!parseOptions(function, args, kwargs, format != signedFormat, &isSigned, &rule))
        return NULL;

    Blocks blocks;
    PyObject *blocksObject = PyTuple_GET_SIZE(args) > 0 ? PyTuple_GET_ITEM(args, 0) : NULL;
    PyObject *first = PyTuple_GetSlice(args, 0, 1);
    if (first == NULL)
        return NULL;
    const int parsed = PyArg_ParseTuple(first, blocksFormat, BLOCKS_TARGETS(blocks));
    Py_DECREF(first);
    if (!parsed)
        return NULL;
    parsedBlocks(blocks, blocksObject);

    const BlockFormat chosen = isSigned ? signedFormat : format;
    const BlockFormatInfo &info = blockFormatInfo(chosen);
    const RowPlanesDecoding how = {blockDecoder(chosen, rule), info.blockBytes, 4 * info.pixelBytes,
                                   kReleaseLockFromBlocks};
    PyObject *returned = rowPlanes(blocks, how);
    releaseBlocks(blocks);
    return returned;
}

// A module function: decodeFormat for one format (and its signed form).
#define DECODE_FUNCTION(name, format, signedFormat)                                                \
    static PyObject *name(PyObject *self, PyObject *args, PyObject *kwargs)                        \
    {                                                                                              \
        (void)self;                                                                                \
        return decodeFormat(#name, BLOCKS_FORMAT ":" #name, args, kwargs, format, signedFormat);   \
    }

DECODE_FUNCTION(decodeBC1, BlockFormat::bc1a, BlockFormat::bc1a)
DECODE_FUNCTION(decodeBC2, BlockFormat::bc2, BlockFormat::bc2)
DECODE_FUNCTION(decodeBC3, BlockFormat::bc3, BlockFormat::bc3)
DECODE_FUNCTION(decodeBC4, BlockFormat::bc4, BlockFormat::bc4s)
DECODE_FUNCTION(decodeBC5, BlockFormat::bc5, BlockFormat::bc5s)
DECODE_FUNCTION(decodeBC7, BlockFormat::bc7, BlockFormat::bc7)

// Python 2's method table takes the three-argument functions through a cast.
#define KEYWORDS(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function))

static PyMethodDef functions[] = {
    {"decodeBC1", KEYWORDS(decodeBC1), METH_VARARGS | METH_KEYWORDS,
     "decodeBC1(blocks, rule='design') -> four row planes of RGBA pixels, 16 bytes per 8-byte BC1 block."},
    {"decodeBC2", KEYWORDS(decodeBC2), METH_VARARGS | METH_KEYWORDS,
     "decodeBC2(blocks, rule='design') -> four row planes of RGBA pixels, 16 bytes per 16-byte BC2 block."},
    {"decodeBC3", KEYWORDS(decodeBC3), METH_VARARGS | METH_KEYWORDS,
     "decodeBC3(blocks, rule='design') -> four row planes of RGBA pixels, 16 bytes per 16-byte BC3 block."},
    {"decodeBC4", KEYWORDS(decodeBC4), METH_VARARGS | METH_KEYWORDS,
     "decodeBC4(blocks, signed=False, rule='design') -> four row planes of one-byte pixels, 4 bytes per 8-byte "
     "BC4 block."},
    {"decodeBC5", KEYWORDS(decodeBC5), METH_VARARGS | METH_KEYWORDS,
     "decodeBC5(blocks, signed=False, rule='design') -> four row planes of red-green pixels, 8 bytes per 16-byte "
     "BC5 block."},
    {"decodeBC7", KEYWORDS(decodeBC7), METH_VARARGS | METH_KEYWORDS,
     "decodeBC7(blocks, rule='design') -> four row planes of RGBA pixels, 16 bytes per 16-byte BC7 block."},
    {NULL, NULL, 0, NULL}
};

DXT1_MODULE_WITH_DECODER(_bcn, functions)
