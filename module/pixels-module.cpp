// The Python binding of the pixel layout decoder (lib/pixel-layouts.h):
// `_pixels.decodePixels(data, width, height, row_bytes, pixel_bits, fields,
// dtype, unpremultiply=False)` returns `height` rows of `width` pixels of one
// sample per field, of `dtype`, packed in one byte string. docs/module.md
// describes `fields`. It follows row-planes-binding.h's rules: the options
// are read before the data's bytes are taken, sizes are checked before
// anything is allocated, the result is made first and decoded into, and a
// large surface is decoded with the interpreter lock let go.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <limits>

#include "pixel-layouts.h"
#include "row-planes-binding.h"
#include "text-choice.h"

// A surface of this many output bytes or more is decoded without the
// interpreter lock: 256 × 256 RGBA bytes, tens of microseconds of work.
static const std::size_t kReleaseLockFromBytes = 256 * 256 * 4;

// The field kinds by their names in `fields`, in FieldKind's order.
static const char *const kFieldKindNames[kFieldKindCount] = {"unorm", "snorm", "float", "sharedexp",
                                                             "xrbias", "zero", "one", "signedzero"};
// The dtypes by name, in SampleType's order.
static const char *const kSampleTypeNames[kSampleTypeCount] = {"uint8", "uint16", "float16", "float32"};

// A bit position or width of a field: a non-negative integer below 256.
static int parseBitNumber(PyObject *object, unsigned *number)
{
    const Py_ssize_t value = PyNumber_AsSsize_t(object, PyExc_OverflowError);
    if (value == -1 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            PyErr_SetString(PyExc_ValueError, "a field's bit offset or width must be 0 to 255");
        }
        return 0;
    }
    if (value < 0 || value > 255) {
        PyErr_SetString(PyExc_ValueError, "a field's bit offset or width must be 0 to 255");
        return 0;
    }
    *number = static_cast<unsigned>(value);
    return 1;
}

// `fields`: a tuple of one tuple a channel, (kind,) for a constant, (kind,
// offset, bits) for a field, ('sharedexp', offset, 9, exponent_offset).
static int parseFields(PyObject *fields, PixelLayout *layout)
{
    if (!PyTuple_Check(fields)) {
        PyErr_SetString(PyExc_TypeError, "fields must be a tuple of tuples");
        return 0;
    }
    const Py_ssize_t channels = PyTuple_GET_SIZE(fields);
    if (channels < 1 || channels > static_cast<Py_ssize_t>(kMaxChannels)) {
        PyErr_SetString(PyExc_ValueError, "fields must describe 1 to 4 channels");
        return 0;
    }
    layout->channels = static_cast<unsigned>(channels);
    for (Py_ssize_t c = 0; c < channels; c++) {
        PyObject *field = PyTuple_GET_ITEM(fields, c);
        if (!PyTuple_Check(field) || PyTuple_GET_SIZE(field) < 1) {
            PyErr_SetString(PyExc_TypeError, "each field must be a tuple that starts with its kind");
            return 0;
        }
        const int kind = textIndex(PyTuple_GET_ITEM(field, 0), kFieldKindNames, kFieldKindCount);
        if (kind < 0)
            return 0;
        if (kind == static_cast<int>(kFieldKindCount)) {
            PyErr_SetString(PyExc_ValueError, "a field's kind must be 'unorm', 'snorm', 'float', 'sharedexp', "
                                              "'xrbias', 'zero', 'one' or 'signedzero'");
            return 0;
        }
        PixelField &parsed = layout->fields[c];
        parsed.kind = static_cast<FieldKind>(kind);
        parsed.offset = parsed.bits = parsed.exponentOffset = 0;
        const bool constant = parsed.kind == FieldKind::zero || parsed.kind == FieldKind::one ||
                              parsed.kind == FieldKind::signedZero;
        const Py_ssize_t items = constant ? 1 : parsed.kind == FieldKind::sharedExponent ? 4 : 3;
        if (PyTuple_GET_SIZE(field) != items) {
            PyErr_Format(PyExc_ValueError, "a '%s' field is a tuple of %d item%s", kFieldKindNames[kind],
                         static_cast<int>(items), items == 1 ? "" : "s");
            return 0;
        }
        if (items >= 3 && (!parseBitNumber(PyTuple_GET_ITEM(field, 1), &parsed.offset) ||
                           !parseBitNumber(PyTuple_GET_ITEM(field, 2), &parsed.bits)))
            return 0;
        if (items == 4 && !parseBitNumber(PyTuple_GET_ITEM(field, 3), &parsed.exponentOffset))
            return 0;
    }
    return 1;
}

// The function's arguments but the data, read before its bytes are taken:
// reading them may run the caller's code (an __index__, a __bool__).
struct PixelsCall {
    Py_ssize_t width, height, rowBytes;
    PixelLayout layout;
    SampleType type;
    bool unpremultiply;
};

static int parseCall(PyObject *args, PyObject *kwargs, PixelsCall *call)
{
    PyObject *data, *fields, *dtype, *unpremultiply = NULL;
    Py_ssize_t pixelBits;
    if (!PyArg_ParseTuple(args, "Onnnn" "OO|O:decodePixels", &data, &call->width, &call->height, &call->rowBytes,
                          &pixelBits, &fields, &dtype, &unpremultiply))
        return 0;
    if (kwargs != NULL) {
        Py_ssize_t position = 0;
        PyObject *key, *value;
        static const char *const keywords[] = {"unpremultiply"};
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            const int match = textIndex(key, keywords, 1);
            if (match < 0)
                return 0;
            if (match == 1) {
                PyErr_SetString(PyExc_TypeError, "decodePixels() takes only unpremultiply as a keyword argument");
                return 0;
            }
            if (unpremultiply != NULL) {
                PyErr_SetString(PyExc_TypeError, "decodePixels() got multiple values for argument 'unpremultiply'");
                return 0;
            }
            unpremultiply = value;
        }
    }
    if (call->width < 0 || call->height < 0 || call->rowBytes < 0) {
        PyErr_SetString(PyExc_ValueError, "width, height and row_bytes must not be negative");
        return 0;
    }
    if (pixelBits < 0 || pixelBits > 128) {
        PyErr_SetString(PyExc_ValueError, "pixel_bits must be 1, 8, 16, 24, 32, 48, 64, 96 or 128");
        return 0;
    }
    call->layout.pixelBits = static_cast<unsigned>(pixelBits);
    if (!parseFields(fields, &call->layout))
        return 0;
    const int type = textIndex(dtype, kSampleTypeNames, kSampleTypeCount);
    if (type < 0)
        return 0;
    if (type == static_cast<int>(kSampleTypeCount)) {
        PyErr_SetString(PyExc_ValueError, "dtype must be 'uint8', 'uint16', 'float16' or 'float32'");
        return 0;
    }
    call->type = static_cast<SampleType>(type);
    call->unpremultiply = false;
    if (unpremultiply != NULL) {
        const int truth = PyObject_IsTrue(unpremultiply);
        if (truth < 0)
            return 0;
        call->unpremultiply = truth == 1;
    }
    const char *error = pixelLayoutError(call->layout, call->type, call->unpremultiply);
    if (error != NULL) {
        PyErr_SetString(PyExc_ValueError, error);
        return 0;
    }
    return 1;
}

// The result's size, or false where it cannot be represented.
static bool outputLength(const PixelsCall &call, Py_ssize_t &length)
{
    const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max());
    const std::size_t pixelBytes = call.layout.channels * sampleBytes(call.type);
    const std::size_t width = static_cast<std::size_t>(call.width), height = static_cast<std::size_t>(call.height);
    if (width != 0 && (width > limit / pixelBytes || (height != 0 && height > limit / (width * pixelBytes))))
        return false;
    length = static_cast<Py_ssize_t>(width * pixelBytes * height);
    return true;
}

static PyObject *decodePixelsFunction(PyObject *self, PyObject *args, PyObject *kwargs)
{
    (void)self;
    PixelsCall call;
    if (!parseCall(args, kwargs, &call))
        return NULL;

    std::size_t leastRowBytes;
    Py_ssize_t length;
    if (!pixelRowBytes(static_cast<std::size_t>(call.width), call.layout.pixelBits, leastRowBytes) ||
        !outputLength(call, length))
        return PyErr_NoMemory();
    if (static_cast<std::size_t>(call.rowBytes) < leastRowBytes) {
        PyErr_Format(PyExc_ValueError, "row_bytes is %zd, less than the %zu bytes of %zd pixels of %u bits",
                     call.rowBytes, leastRowBytes, call.width, call.layout.pixelBits);
        return NULL;
    }

    Blocks data;
    PyObject *first = PyTuple_GetSlice(args, 0, 1);
    if (first == NULL)
        return NULL;
    const int parsed = PyArg_ParseTuple(first, BLOCKS_FORMAT ":decodePixels", BLOCKS_TARGETS(data));
    Py_DECREF(first);
    if (!parsed)
        return NULL;
    parsedBlocks(data, PyTuple_GET_ITEM(args, 0));

    PyObject *returned = NULL;
    // The last row is read only as far as its pixels go.
    const std::size_t rows = static_cast<std::size_t>(call.height);
    const std::size_t available = static_cast<std::size_t>(data.len);
    const std::size_t rowBytes = static_cast<std::size_t>(call.rowBytes);
    if (rows != 0 && (available < leastRowBytes ||
                      (rows > 1 && rowBytes != 0 && (available - leastRowBytes) / rowBytes < rows - 1))) {
        PyErr_Format(PyExc_ValueError, "data holds %zd bytes, too few for %zd rows of %zd bytes",
                     static_cast<Py_ssize_t>(data.len), call.height, call.rowBytes);
        goto done;
    }
    returned = PlaneString_FromStringAndSize(NULL, length);
    if (returned == NULL)
        goto done;
    if (length != 0) {
        const unsigned char *input = reinterpret_cast<const unsigned char *>(data.data);
#if PY_MAJOR_VERSION >= 3
        unsigned char *output = reinterpret_cast<unsigned char *>(PyBytes_AS_STRING(returned));
#else
        unsigned char *output = reinterpret_cast<unsigned char *>(PyString_AS_STRING(returned));
#endif
        if (data.heldWithoutLock && static_cast<std::size_t>(length) >= kReleaseLockFromBytes) {
            Py_BEGIN_ALLOW_THREADS
            decodePixels(call.layout, call.type, call.unpremultiply, input, rowBytes,
                         static_cast<std::size_t>(call.width), rows, output);
            Py_END_ALLOW_THREADS
        } else {
            decodePixels(call.layout, call.type, call.unpremultiply, input, rowBytes,
                         static_cast<std::size_t>(call.width), rows, output);
        }
    }

done:
    releaseBlocks(data);
    return returned;
}

// Python 2's method table takes the three-argument function through a cast.
#define KEYWORDS(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function))

static PyMethodDef functions[] = {
    {"decodePixels", KEYWORDS(decodePixelsFunction), METH_VARARGS | METH_KEYWORDS,
     "decodePixels(data, width, height, row_bytes, pixel_bits, fields, dtype, unpremultiply=False) -> height rows "
     "of width pixels of one dtype sample per field, packed."},
    {NULL, NULL, 0, NULL}
};

#if PY_MAJOR_VERSION >= 3
static struct PyModuleDef moduleDefinition = {PyModuleDef_HEAD_INIT, "_pixels", NULL, -1, functions,
                                              NULL, NULL, NULL, NULL};

MODULE_ENTRY(PyObject *) PyInit__pixels(void)
{
    return PyModule_Create(&moduleDefinition);
}
#else
MODULE_ENTRY(void) init_pixels(void)
{
    Py_InitModule4("_pixels", functions, NULL, NULL, PYTHON_API_VERSION);
}
#endif
