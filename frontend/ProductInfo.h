#pragma once

#include <QString>
#include <optional>

#include "ini/Config.h"

namespace ov {

// The product a bundle downloads, from the section "Ureg_Info" of its
// MakeInfo.ini. A missing section or key reads as the empty text; each value
// is used as the file holds it.
struct ProductInfo {
  QString sr;                  // SR_No
  QString product;             // Prod_Name
  QString displayProductName;  // DisplayProd_Name
  QString version;             // Prod_Ver
  QString versionType;         // RegVType
};

// <bundle>/Contents/Resources/MakeInfo.ini.
QString makeInfoPath();

// The file's text as the INI reader gets it: every "/" acts as a line break,
// so the result is the non-empty pieces between slashes, each followed by "\n".
QString makeInfoLines(const QString& source);

// Reads and parses MakeInfo.ini, and writes "[OVDownloader]load MakeInfo.ini
// done." or "[OVDownloader]failed to load MakeInfo.ini" to the system log.
// Nothing when the file is missing, unreadable, not decodable or not INI.
std::optional<Config> loadMakeInfo();

// The five keys of a loaded file; writes the "[OVDownloader]MakeInfo.ini
// content : ..." line to the system log (values as text, never as a format).
ProductInfo productOf(const Config& makeInfo);

}  // namespace ov
