"""What the outputs are named: the image types a target's name may ask for,
the PNG beside an input or in a folder, a folder's tree mirrored, and one
output for each level or layer when --level or --layer is `all`."""
import os

from .dds import CUBE_FACES
from .errors import ConversionError
from .formats import TARGET_TYPES

PNG_SUFFIX = TARGET_TYPES['png']
# The image types a target may be named for, by suffix: those written (the
# format table's TARGET_TYPES), and those refused in one line rather than
# filled with another type's bytes.
WRITTEN = {PNG_SUFFIX: 'PNG', TARGET_TYPES['exr']: 'OpenEXR'}
OTHER_IMAGE_TYPES = {'.jpg': 'JPEG', '.jpeg': 'JPEG', '.jpe': 'JPEG', '.jp2': 'JPEG 2000', '.tga': 'TGA',
                     '.bmp': 'BMP', '.gif': 'GIF', '.tif': 'TIFF', '.tiff': 'TIFF', '.webp': 'WebP',
                     '.exr': 'OpenEXR', '.hdr': 'Radiance HDR', '.ppm': 'PPM', '.pgm': 'PGM', '.ico': 'ICO',
                     '.dds': 'DDS', '.ktx': 'KTX', '.ktx2': 'KTX2', '.avif': 'AVIF', '.heic': 'HEIC',
                     '.psd': 'PSD', '.jxl': 'JPEG XL', '.qoi': 'QOI'}
INPUT_SUFFIX = '.dds'
ALL = 'all'  # --level all, --layer all
FACE_NAMES = [name for _, name in CUBE_FACES]  # --layer +X ... -Z, in storage order


def refused_type(name):
    """The reason a target named `name` (a str path) is not written, or None:
    a name ending in another image type's suffix."""
    suffix = os.path.splitext(name)[1].lower()
    if suffix in OTHER_IMAGE_TYPES and suffix not in WRITTEN:
        return 'names a %s image; dds2png writes %s only (name it %s)' % (
            OTHER_IMAGE_TYPES[suffix], ' and '.join(sorted(WRITTEN.values())), ' or '.join(sorted(WRITTEN)))
    return None


def check_target_name(shown, name):
    """Raises ConversionError, naming `shown`, for a target named for a type not written."""
    reason = refused_type(name)
    if reason:
        raise ConversionError(shown, reason)


def is_input_name(name):
    """Whether a file found in a folder is an input: `.dds`, in any case."""
    return name.lower().endswith(INPUT_SUFFIX)


def png_name(source, suffix=PNG_SUFFIX):
    """The image's name for an input: its name, less `.dds` in any case, and
    `suffix` (`.png`, or `.exr` under --format exr)."""
    base = os.path.basename(source)
    if is_input_name(base):
        base = base[:-len(INPUT_SUFFIX)]
    return base + suffix


def beside(source, suffix=PNG_SUFFIX):
    """The image beside the input: x.dds gives x.png in the same folder."""
    return os.path.join(os.path.dirname(source), png_name(source, suffix))


def in_folder(folder, source, suffix=PNG_SUFFIX):
    """The image for the input in `folder`."""
    return os.path.join(folder, png_name(source, suffix))


def mirrored(folder, root, source, suffix=PNG_SUFFIX):
    """The image for `source`, found below the folder `root`, in `folder` at the same path below it."""
    relative = os.path.relpath(os.path.dirname(source), root)
    below = '' if relative == os.curdir else relative
    return os.path.join(folder, below, png_name(source, suffix))


def names_folder(target):
    """Whether OUTPUT names a folder to write into: one that exists, or a name ending in a slash."""
    return target.endswith(os.sep) or os.path.isdir(target)


def layer_names(facts, level):
    """The names of a level's layers in output names: a cube map's faces
    (+X ... -Z), a cube array's cube number and face (1-Y), else the number."""
    count = facts.layers[level]
    if facts.faces and count == len(facts.faces):
        return list(facts.faces)
    if facts.faces:
        return ['%d%s' % (n // len(facts.faces), facts.faces[n % len(facts.faces)]) for n in range(count)]
    return [str(n) for n in range(count)]


def layer_number(facts, layer):
    """The number of a layer given as --layer gives it: a number, or a cube map's face."""
    if isinstance(layer, int):
        return layer
    if facts.kind != 'cube':
        raise ConversionError(None, 'no layer %s: not a cube map' % layer)
    if len(facts.faces) != facts.layers[0]:
        raise ConversionError(None, 'no layer %s: an array of %d cube maps; give the layer by number'
                              % (layer, facts.layers[0] // len(facts.faces)))
    if layer not in facts.faces:
        raise ConversionError(None, 'no layer %s: the cube map stores %s' % (layer, ' '.join(facts.faces)))
    return facts.faces.index(layer)


def outputs_of(facts, target, level, layer):
    """(target, level, layer) for each output of one input: one, or one per
    level and layer where either is `all`, named `<target less .png>-level2.png`,
    `-layer+Y.png` (a cube face), `-layer3.png` (an array element or volume
    slice), or `-level2-layer3.png` for both. `facts` is the input's Info."""
    if ALL in (level, layer):
        # Names are made for every level and layer the header claims: only
        # once the data is known to hold them, so that a header's count of
        # billions is a refusal, not billions of names.
        if not facts.decoded:
            raise ConversionError(None, facts.refusal or 'not decoded')
        if facts.truncated:
            raise ConversionError(None, 'truncated surface data: %d bytes of %d' % (facts.data_bytes,
                                                                                    facts.expected_bytes))
    written = [suffix for suffix in WRITTEN if target.lower().endswith(suffix)]
    stem = target[:-len(written[0])] if written else target
    suffix = target[len(stem):] or PNG_SUFFIX
    levels = range(facts.levels) if level == ALL else [level]
    outputs = []
    for each in levels:
        name = stem + ('-level%d' % each if level == ALL else '')
        if layer == ALL:
            outputs += [(name + '-layer%s' % text + suffix, each, n)
                        for n, text in enumerate(layer_names(facts, each))]
        else:
            outputs.append((name + suffix, each, None if layer is None else layer_number(facts, layer)))
    return outputs
