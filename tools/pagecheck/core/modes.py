"""The program's two modes, by the names options and results.json give them, and the caption each
prints: the page's text line and its job's name."""

DIRECT_CAPTION = 'Print Mode: Direct Print'
BITMAP_CAPTION = 'Print Mode: Bitmap Print'
MODE_PREFIX = 'Print Mode: '
CAPTIONS = {'direct': DIRECT_CAPTION, 'bitmap': BITMAP_CAPTION}
MODES = {caption: mode for mode, caption in CAPTIONS.items()}


def mode_name(caption):
    """Direct Print or Bitmap Print."""
    return caption[len(MODE_PREFIX):]
