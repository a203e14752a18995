#include "image/codec_bmp.h"

namespace orvalis {

// Placeholder until the BMP codec lands; refuses honestly instead of pretending.
bool RasterImageBmp::Decode(ByteStream*) {
  SetErrorText("BMP decoder not built yet");
  return false;
}

bool RasterImageBmp::Encode(ByteStream* stream) {
  if (!CheckBeforeEncode(stream)) return false;
  SetErrorText("BMP encoder not built yet");
  return false;
}

}  // namespace orvalis
