#include "extract/media_types.h"

namespace {

// The lists in their fixed order, each closed by an empty entry. Duplicates stand as they
// are; a lookup finds the first of them.
constexpr const char* kImageTypes[] = {
    "3DM", "3DMF", "3DS",  "ABM", "AFX",  "AI",           "ANI",  "ART",  "ARW",  "BLD",  "BLEND",
    "BMP", "BOO",  "BR5",  "CDR", "CDR",  "CDT",          "CGM",  "CIFF", "CLP",  "CMX",  "CONT",
    "CPT", "CR2",  "CRW",  "CUR", "CVX",  "DCM",          "DCR",  "DCR",  "DIB",  "DNG",  "DRW",
    "DS4", "DSC",  "DT2",  "DWF", "DWG",  "EMF",          "EMZ",  "ERF",  "FH8",  "FLC",  "FOV",
    "FPF", "FPX",  "FUJI", "FXG", "GIF",  "HDP",          "HPI",  "ICNS", "ICO",  "IDML", "IFF",
    "IMG", "INX",  "IPX",  "ISD", "ITC2", "IV",           "JP2",  "JPEG", "JPG",  "JPX",  "K25",
    "KDC", "LBM",  "MA",   "MAX", "MB",   "MDI",          "MDL",  "MDX",  "MINO", "MNG",  "MOS",
    "MRW", "MSP",  "NCR",  "NEF", "OBJ",  "ORF",          "PAL",  "PAT",  "PBM",  "PCS",  "PCT",
    "PCX", "PEF",  "PGM",  "PIC", "PICT", "PICTCLIPPING", "PNG",  "PPM",  "PSD",  "PSP",  "PSPIMGE",
    "PTX", "PXN",  "QXD",  "RAF", "RAS",  "RAW",          "RELS", "RGB",  "RLE",  "RTD",  "SCT",
    "SHP", "SKF",  "SKP",  "SR2", "SRF",  "STP",          "SVG",  "SVGZ", "TEX",  "TGA",  "THM",
    "TIF", "TIFF", "VWX",  "WB1", "WBC",  "WBD",          "WBMP", "WBZ",  "WEBP", "WMF",  "WP",
    "WPG", "X3F",  "XBM",  "XCF", "XPM",  "XPS",          ""};
constexpr const char* kVideoTypes[] = {
    "3G2",   "3GP",   "ANM",      "ASF",    "ASX",    "AVI", "AVS", "CLK", "CPI",       "DIVX",
    "DMSM",  "DREAM", "DVDMEDIA", "DVM",    "DVR-MS", "DXR", "F4V", "FBR", "FLA",       "FLV",
    "HDMOV", "M2P",   "M2TS",     "M4P",    "M4V",    "MKV", "MOD", "MOI", "MOV",       "MP4",
    "MPE",   "MPEG",  "MPG",      "MXF",    "OGM",    "PSH", "QT",  "QTM", "RCPROJECT", "RM",
    "RMVB",  "SCM",   "SMIL",     "SMJPEG", "SRT",    "STX", "SWF", "TIX", "TS",        "VOB",
    "VRO",   "WMV",   "WTV",      "XVID",   "YUV",    ""};
constexpr const char* kAudioTypes[] = {
    "RAM", "RFL",  "RMI",  "RNS", "RPS", "SIB", "SND", "VPM",  "WAV", "WMA",  "AA3",  "AAC", "AC3",
    "AFC", "AIF",  "AIFF", "AM",  "AT3", "AU",  "CAF", "CDA",  "CPF", "DMSA", "DMSE", "DSS", "EMP",
    "EMX", "FLAC", "KPI",  "M3D", "M4A", "M4R", "MID", "MIDI", "MP3", "OGG",  "OMF",  "PTF", ""};

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoringCase(const char* entry, const char* extension) {
  for (; *entry != '\0' && *extension != '\0'; ++entry, ++extension) {
    if (upper(*extension) != *entry) return false;
  }
  return *entry == *extension;
}

std::int32_t positionIn(const char* const* list, const char* extension) {
  if (extension == nullptr || *extension == '\0') return -1;
  for (std::int32_t i = 0; *list[i] != '\0'; ++i) {
    if (equalsIgnoringCase(list[i], extension)) return i;
  }
  return -1;
}

}  // namespace

std::int32_t GetImageType(const char* extension) { return positionIn(kImageTypes, extension); }
std::int32_t GetViedoType(const char* extension) { return positionIn(kVideoTypes, extension); }
std::int32_t GetAudioType(const char* extension) { return positionIn(kAudioTypes, extension); }
