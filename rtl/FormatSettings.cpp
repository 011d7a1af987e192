#include "rtl/FormatSettings.h"

namespace lanqi {

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

}  // namespace lanqi
