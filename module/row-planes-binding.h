// What every module of the package shares: a function that takes one
// bytes-like argument, decodes its blocks into four row planes with a decoder
// of the core library, and returns them as a tuple of byte strings. One
// source serves Python 2 (what "s#" takes in, str out) and Python 3 (any
// C-contiguous bytes-like object in, through a buffer released on every path;
// bytes out). Included by each module's source after Python.h.
#ifndef ROW_PLANES_BINDING_H
#define ROW_PLANES_BINDING_H

#include "block-decoder.h"
#include "plane-size.h"

#if PY_VERSION_HEX >= 0x02050000
typedef Py_ssize_t Length;
#else
typedef int Length; // "s#" stores an int before Py_ssize_t existed
#endif

#if PY_MAJOR_VERSION >= 3
#define PlaneString_FromStringAndSize PyBytes_FromStringAndSize
#define PlaneString_AS_STRING PyBytes_AS_STRING
#else
#define PlaneString_FromStringAndSize PyString_FromStringAndSize
#define PlaneString_AS_STRING PyString_AS_STRING
#endif

// The entry point is each module's one exported symbol. Spelled out rather
// than with PyMODINIT_FUNC, which not every header version marks visible.
#define MODULE_ENTRY(type) extern "C" __attribute__((visibility("default"))) type

// At import, before the module is made: false, with ImportError set, where
// BCN_DECODER names a variant this machine cannot run, so that no module
// decodes with another variant than the one asked for.
inline bool decoderVariantRuns()
{
    char message[256];
    if (!decoderChoiceError(message, sizeof message))
        return true;
    PyErr_SetString(PyExc_ImportError, message);
    return false;
}

// The entry point of a module of `functions` whose `decoder` attribute names
// the decoder variant this CPU runs. A failure leaves its exception set: the
// interpreter reports it.
#if PY_MAJOR_VERSION >= 3
#define MODULE_WITH_DECODER(name, functions)                                                        \
    static struct PyModuleDef moduleDefinition = {                                                       \
        PyModuleDef_HEAD_INIT, #name, NULL, -1, functions, NULL, NULL, NULL, NULL};                      \
    MODULE_ENTRY(PyObject *) PyInit_##name(void)                                                           \
    {                                                                                                    \
        if (!decoderVariantRuns())                                                                       \
            return NULL;                                                                                 \
        PyObject *module = PyModule_Create(&moduleDefinition);                                           \
        if (module != NULL && PyModule_AddStringConstant(module, "decoder", decoderLabel()) != 0) {      \
            Py_DECREF(module);                                                                           \
            return NULL;                                                                                 \
        }                                                                                                \
        return module;                                                                                   \
    }
#else
// Python 2's module is borrowed, owned by sys.modules.
#define MODULE_WITH_DECODER(name, functions)                                                        \
    MODULE_ENTRY(void) init##name(void)                                                                    \
    {                                                                                                    \
        if (!decoderVariantRuns())                                                                       \
            return;                                                                                      \
        PyObject *module = Py_InitModule4(#name, functions, NULL, NULL, PYTHON_API_VERSION);             \
        if (module != NULL)                                                                              \
            PyModule_AddStringConstant(module, "decoder", decoderLabel());                               \
    }
#endif

// The blocks argument: its bytes, and in Python 3 the buffer that lends them
// until releaseBlocks.
struct Blocks {
    const char *data;
    Length len;
    // Whether the bytes cannot change or move while the interpreter lock is
    // released: a Python 3 buffer is held, a Python 2 str cannot change, but
    // what else "s#" takes in Python 2 (a bytearray) may be resized by another
    // thread.
    bool heldWithoutLock;
#if PY_MAJOR_VERSION >= 3
    Py_buffer view;
#endif
};

// The format string of the blocks argument, for PyArg_Parse* functions.
#if PY_MAJOR_VERSION >= 3
#define BLOCKS_FORMAT "y*"
#define BLOCKS_TARGETS(blocks) &(blocks).view
#else
#define BLOCKS_FORMAT "s#"
#define BLOCKS_TARGETS(blocks) &(blocks).data, &(blocks).len
#endif

// After a successful parse into BLOCKS_TARGETS(blocks), with `argument` the
// object parsed (NULL where not known: then the lock is kept in Python 2).
inline void parsedBlocks(Blocks &blocks, PyObject *argument)
{
#if PY_MAJOR_VERSION >= 3
    (void)argument;
    blocks.data = static_cast<const char *>(blocks.view.buf);
    blocks.len = blocks.view.len;
    blocks.heldWithoutLock = true;
#else
    blocks.heldWithoutLock = argument != NULL && PyString_CheckExact(argument);
#endif
}

inline void releaseBlocks(Blocks &blocks)
{
#if PY_MAJOR_VERSION >= 3
    PyBuffer_Release(&blocks.view);
#else
    (void)blocks;
#endif
}

// How one module function decodes: its decoder, the input bytes of a block,
// the bytes a block takes in each plane, and from how many blocks on the
// interpreter lock is released while decoding (0: never).
struct RowPlanesDecoding {
    BlockDecodeFunction decode;
    unsigned blockBytes;
    unsigned blockRowBytes;
    Length releaseLockFromBlocks;
};

// The planes of parsed blocks, as a tuple, or NULL with an exception set.
// The blocks stay the caller's to release. The four byte strings are made
// first and decoded into, so that a call's memory is its result alone; no
// other thread can see them before they are returned.
inline PyObject *rowPlanes(const Blocks &blocks, const RowPlanesDecoding &how)
{
    Length outlen;
    unsigned char *outdata[4];
    PyObject *returned = NULL;
    int i;

    if (!planeLength(blocks.len, how.blockBytes, how.blockRowBytes, outlen)) {
        PyErr_NoMemory();
        goto failed;
    }

    returned = PyTuple_New(4);
    if (returned == NULL)
        goto failed;
    for (i = 0; i < 4; i++) {
        PyObject *plane = PlaneString_FromStringAndSize(NULL, outlen);
        if (plane == NULL)
            goto failed;
        PyTuple_SET_ITEM(returned, i, plane);
        outdata[i] = reinterpret_cast<unsigned char *>(PlaneString_AS_STRING(plane));
    }

    if (how.releaseLockFromBlocks != 0 && blocks.heldWithoutLock &&
        blocks.len / static_cast<Length>(how.blockBytes) >= how.releaseLockFromBlocks) {
        Py_BEGIN_ALLOW_THREADS
        how.decode(reinterpret_cast<const unsigned char *>(blocks.data), static_cast<size_t>(blocks.len), outdata);
        Py_END_ALLOW_THREADS
    } else {
        how.decode(reinterpret_cast<const unsigned char *>(blocks.data), static_cast<size_t>(blocks.len), outdata);
    }
    return returned;

failed:
    Py_XDECREF(returned); // also releases the planes already stored
    return NULL;
}

// The body of a module function of one positional argument: `Decode` writes
// BlockRowBytes bytes per 8-byte block to each plane, holding the lock.
template <unsigned BlockRowBytes, BlockDecodeFunction Decode>
PyObject *decodeRowPlanes(PyObject *args)
{
    Blocks blocks;
    if (!PyArg_ParseTuple(args, BLOCKS_FORMAT, BLOCKS_TARGETS(blocks)))
        return NULL;
    parsedBlocks(blocks, NULL);
    const RowPlanesDecoding how = {Decode, 8, BlockRowBytes, 0};
    PyObject *returned = rowPlanes(blocks, how);
    releaseBlocks(blocks);
    return returned;
}

#endif
