#include "extract/media_types.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace {

// Upper-case extensions, in the order the lookups answer with.
// clang-format off
// The written list, then the formats of current cameras after it (a written entry keeps
// its position).
constexpr std::array<std::string_view, 142> kImageTypes = {
    "3DM", "3DMF", "3DS", "ABM", "AFX", "AI", "ANI", "ART", "ARW", "BLD", "BLEND", "BMP", "BOO",
    "BR5", "CDR", "CDR", "CDT", "CGM", "CIFF", "CLP", "CMX", "CONT", "CPT", "CR2", "CRW", "CUR",
    "CVX", "DCM", "DCR", "DCR", "DIB", "DNG", "DRW", "DS4", "DSC", "DT2", "DWF", "DWG", "EMF",
    "EMZ", "ERF", "FH8", "FLC", "FOV", "FPF", "FPX", "FUJI", "FXG", "GIF", "HDP", "HPI", "ICNS",
    "ICO", "IDML", "IFF", "IMG", "INX", "IPX", "ISD", "ITC2", "IV", "JP2", "JPEG", "JPG", "JPX",
    "K25", "KDC", "LBM", "MA", "MAX", "MB", "MDI", "MDL", "MDX", "MINO", "MNG", "MOS", "MRW",
    "MSP", "NCR", "NEF", "OBJ", "ORF", "PAL", "PAT", "PBM", "PCS", "PCT", "PCX", "PEF", "PGM",
    "PIC", "PICT", "PICTCLIPPING", "PNG", "PPM", "PSD", "PSP", "PSPIMGE", "PTX", "PXN", "QXD",
    "RAF", "RAS", "RAW", "RELS", "RGB", "RLE", "RTD", "SCT", "SHP", "SKF", "SKP", "SR2", "SRF",
    "STP", "SVG", "SVGZ", "TEX", "TGA", "THM", "TIF", "TIFF", "VWX", "WB1", "WBC", "WBD", "WBMP",
    "WBZ", "WEBP", "WMF", "WP", "WPG", "X3F", "XBM", "XCF", "XPM", "XPS",
    "HEIC", "HEIF", "AVIF", "HEICS",
};

// The written list, then the raw stream of current cameras' movies after it.
constexpr std::array<std::string_view, 56> kVideoTypes = {
    "3G2", "3GP", "ANM", "ASF", "ASX", "AVI", "AVS", "CLK", "CPI", "DIVX", "DMSM", "DREAM",
    "DVDMEDIA", "DVM", "DVR-MS", "DXR", "F4V", "FBR", "FLA", "FLV", "HDMOV", "M2P", "M2TS",
    "M4P", "M4V", "MKV", "MOD", "MOI", "MOV", "MP4", "MPE", "MPEG", "MPG", "MXF", "OGM", "PSH",
    "QT", "QTM", "RCPROJECT", "RM", "RMVB", "SCM", "SMIL", "SMJPEG", "SRT", "STX", "SWF", "TIX",
    "TS", "VOB", "VRO", "WMV", "WTV", "XVID", "YUV",
    "HEVC",
};

constexpr std::array<std::string_view, 38> kAudioTypes = {
    "RAM", "RFL", "RMI", "RNS", "RPS", "SIB", "SND", "VPM", "WAV", "WMA", "AA3", "AAC", "AC3",
    "AFC", "AIF", "AIFF", "AM", "AT3", "AU", "CAF", "CDA", "CPF", "DMSA", "DMSE", "DSS", "EMP",
    "EMX", "FLAC", "KPI", "M3D", "M4A", "M4R", "MID", "MIDI", "MP3", "OGG", "OMF", "PTF",
};
// clang-format on

// A list written with fewer names than its declared length would end in empty entries.
template <std::size_t N>
constexpr bool everyEntryNamed(const std::array<std::string_view, N>& list) {
  for (std::string_view entry : list) {
    if (entry.empty()) return false;
  }
  return true;
}
static_assert(everyEntryNamed(kImageTypes) && everyEntryNamed(kVideoTypes) &&
              everyEntryNamed(kAudioTypes));

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoringAsciiCase(std::string_view entry, std::string_view ext) {
  if (entry.size() != ext.size()) return false;
  for (std::size_t i = 0; i < entry.size(); ++i) {
    if (asciiUpper(ext[i]) != entry[i]) return false;
  }
  return true;
}

std::int32_t positionIn(std::span<const std::string_view> list, std::string_view ext) {
  if (ext.empty()) return -1;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (equalsIgnoringAsciiCase(list[i], ext)) return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::string_view viewOf(const char* ext) {
  return ext != nullptr ? std::string_view(ext, std::strlen(ext)) : std::string_view();
}

}  // namespace

std::span<const std::string_view> imageTypeList() { return kImageTypes; }
std::span<const std::string_view> videoTypeList() { return kVideoTypes; }
std::span<const std::string_view> audioTypeList() { return kAudioTypes; }

std::int32_t GetImageType(std::string_view ext) { return positionIn(kImageTypes, ext); }
std::int32_t GetViedoType(std::string_view ext) { return positionIn(kVideoTypes, ext); }
std::int32_t GetAudioType(std::string_view ext) { return positionIn(kAudioTypes, ext); }

std::int32_t GetImageType(const char* ext) { return GetImageType(viewOf(ext)); }
std::int32_t GetViedoType(const char* ext) { return GetViedoType(viewOf(ext)); }
std::int32_t GetAudioType(const char* ext) { return GetAudioType(viewOf(ext)); }

std::string_view lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path.size() <= 1) return path;
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view pathExtension(std::string_view path) {
  const std::string_view name = lastPathComponent(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  return name.substr(dot + 1);
}
