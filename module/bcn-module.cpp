// The Python binding of the block family: `_bcn.decodeBC1(data)` to
// `decodeBC5(data, signed=False)` and `decodeBC7(data)`, one function for each
// format of the table of block-decoder.h that names one, return the four row
// planes of a run of blocks as a tuple of byte strings (row-planes-binding.h), each taking the
// colour rule as the keyword `rule` ('design' or 'gpu'); `_bcn.decoder` names
// the decoder variant that this CPU runs. Unlike `_dxt1`, the functions let
// other threads run while they decode a long run.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstring>
#include <utility>

#include "block-decoder.h"
#include "row-planes-binding.h"
#include "text-choice.h"

// Runs this long take tens of microseconds or more, against the few that
// handing the interpreter lock over and back costs: 4096 blocks are a
// 256 × 256 texture.
static const Length kReleaseLockFromBlocks = 4096;

// The keywords after the blocks (`signed` only where the format has a signed
// form), and the colour rules by name, in ColourRule's order.
static const char *const kOptionNames[] = {"rule", "signed"};
static const char *const kRuleNames[kColourRuleCount] = {"design", "gpu"};

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
            const int options = takesSigned ? 2 : 1;
            const int match = textIndex(key, kOptionNames, options);
            if (match < 0)
                return 0;
            if (match == 0) {
                ruleObject = value;
                continue;
            }
            if (match == options) {
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
        const int named = textIndex(ruleObject, kRuleNames, kColourRuleCount);
        if (named < 0)
            return 0;
        if (named == static_cast<int>(kColourRuleCount)) {
            PyErr_SetString(PyExc_ValueError, "rule must be 'design' or 'gpu'");
            return 0;
        }
        *rule = static_cast<ColourRule>(named);
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

// The module's functions come from the format table: each row that names a
// function and is not a signed form gives one, which takes `signed` where
// another row is that function's signed form. A new row is a new function,
// with its parse format and doc string written below at compile time.

// Whether two texts are the same characters.
constexpr bool sameText(const char *a, const char *b)
{
    return *a == *b && (*a == '\0' || sameText(a + 1, b + 1));
}

// The row of the `n`-th function; kBlockFormatCount past the last.
constexpr unsigned functionRow(unsigned n)
{
    for (unsigned row = 0; row < kBlockFormatCount; ++row)
        if (kBlockFormats[row].function != nullptr && !kBlockFormats[row].isSigned && n-- == 0)
            return row;
    return kBlockFormatCount;
}

constexpr unsigned countFunctions()
{
    unsigned n = 0;
    while (functionRow(n) != kBlockFormatCount)
        ++n;
    return n;
}
constexpr unsigned kFunctionCount = countFunctions();

// The row of the signed form of `row`'s function, or `row` where it has none.
constexpr unsigned signedRow(unsigned row)
{
    for (unsigned other = 0; other < kBlockFormatCount; ++other)
        if (kBlockFormats[other].function != nullptr && kBlockFormats[other].isSigned &&
            sameText(kBlockFormats[other].function, kBlockFormats[row].function))
            return other;
    return row;
}

// Whether the table's functions are well formed: each named "decode" and a
// format's name, given by one row that is not a signed form, and each signed
// row the signed form of such a function (else it would have no function).
constexpr bool functionsAreWellFormed()
{
    for (unsigned row = 0; row < kBlockFormatCount; ++row) {
        const char *function = kBlockFormats[row].function;
        if (function == nullptr)
            continue;
        for (const char *prefix = "decode"; *prefix != '\0'; ++prefix, ++function)
            if (*function != *prefix)
                return false;
        unsigned unsignedRows = 0;
        for (unsigned other = 0; other < kBlockFormatCount; ++other)
            unsignedRows += kBlockFormats[other].function != nullptr && !kBlockFormats[other].isSigned &&
                            sameText(kBlockFormats[other].function, kBlockFormats[row].function);
        if (unsignedRows != 1)
            return false;
    }
    return true;
}
static_assert(functionsAreWellFormed(), "each function of kBlockFormats is decode<FORMAT>, with one unsigned row");

// How a doc string names a pixel of the row's channels. No phrase (a new
// channel type or count) stops the build where the doc string is written.
constexpr const char *pixelPhrase(const BlockFormatInfo &info)
{
    switch (info.channelType) {
    case ChannelType::byte:
        return info.channels == 1 ? "one-byte"
               : info.channels == 2 ? "red-green"
               : info.channels == 3 ? "RGB"
               : info.channels == 4 ? "RGBA"
                                    : nullptr;
    case ChannelType::half:
        return info.channels == 3 ? "half-float RGB" : nullptr;
    }
    return nullptr;
}

// Text written at compile time: Counter measures it, Text<N> holds it.
struct Counter {
    std::size_t length = 0;
    constexpr void put(char) { ++length; }
};

template <std::size_t N>
struct Text {
    char chars[N] = {};
    std::size_t length = 0;
    constexpr void put(char c) { chars[length++] = c; }
};

template <class Out>
constexpr void putText(Out &out, const char *text)
{
    while (*text != '\0')
        out.put(*text++);
}

template <class Out>
constexpr void putNumber(Out &out, unsigned number)
{
    if (number >= 10)
        putNumber(out, number / 10);
    out.put(static_cast<char>('0' + number % 10));
}

// "y*:decodeBC4": the blocks' parse format, after its colon the function's
// name, which the parser's errors give.
template <class Out>
constexpr void putParseFormat(Out &out, unsigned row)
{
    putText(out, BLOCKS_FORMAT ":");
    putText(out, kBlockFormats[row].function);
}

// "decodeBC4(blocks, signed=False, rule='design') -> four row planes of
// one-byte pixels, 4 bytes per 8-byte BC4 block."
template <class Out>
constexpr void putDocString(Out &out, unsigned row)
{
    const BlockFormatInfo &info = kBlockFormats[row];
    putText(out, info.function);
    putText(out, signedRow(row) != row ? "(blocks, signed=False, rule='design')" : "(blocks, rule='design')");
    putText(out, " -> four row planes of ");
    putText(out, pixelPhrase(info));
    putText(out, " pixels, ");
    putNumber(out, 4 * info.pixelBytes);
    putText(out, " bytes per ");
    putNumber(out, info.blockBytes);
    putText(out, "-byte ");
    putText(out, info.function + sizeof "decode" - 1); // the format's name, "BC4"
    putText(out, " block.");
}

template <void (*Put)(Counter &, unsigned), unsigned Row>
constexpr std::size_t textSize()
{
    Counter counter;
    Put(counter, Row);
    return counter.length + 1;
}

template <std::size_t N, void (*Put)(Text<N> &, unsigned), unsigned Row>
constexpr Text<N> makeText()
{
    Text<N> text;
    Put(text, Row);
    return text;
}

// The texts of the `N`-th function.
template <unsigned N>
struct FunctionTexts {
    static constexpr unsigned row = functionRow(N);
    static constexpr std::size_t parseSize = textSize<putParseFormat<Counter>, row>();
    static constexpr std::size_t docSize = textSize<putDocString<Counter>, row>();
    static constexpr Text<parseSize> parseFormat = makeText<parseSize, putParseFormat<Text<parseSize>>, row>();
    static constexpr Text<docSize> docString = makeText<docSize, putDocString<Text<docSize>>, row>();
};
template <unsigned N>
constexpr Text<FunctionTexts<N>::parseSize> FunctionTexts<N>::parseFormat;
template <unsigned N>
constexpr Text<FunctionTexts<N>::docSize> FunctionTexts<N>::docString;

// The `N`-th function: decodeFormat for its row (and its signed form).
template <unsigned N>
static PyObject *decodeFunction(PyObject *self, PyObject *args, PyObject *kwargs)
{
    (void)self;
    constexpr unsigned row = FunctionTexts<N>::row;
    return decodeFormat(kBlockFormats[row].function, FunctionTexts<N>::parseFormat.chars, args, kwargs,
                        BlockFormat(row), BlockFormat(signedRow(row)));
}

// Python 2's method table takes the three-argument functions through a cast.
#define KEYWORDS(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function))

template <class Indices>
struct MethodTable;

template <unsigned... N>
struct MethodTable<std::integer_sequence<unsigned, N...>> {
    static PyMethodDef functions[sizeof...(N) + 1];
};

template <unsigned... N>
PyMethodDef MethodTable<std::integer_sequence<unsigned, N...>>::functions[sizeof...(N) + 1] = {
    {kBlockFormats[functionRow(N)].function, KEYWORDS(decodeFunction<N>), METH_VARARGS | METH_KEYWORDS,
     FunctionTexts<N>::docString.chars}...,
    {NULL, NULL, 0, NULL}};

static PyMethodDef *const functions = MethodTable<std::make_integer_sequence<unsigned, kFunctionCount>>::functions;

MODULE_WITH_DECODER(_bcn, functions)
