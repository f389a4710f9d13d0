#pragma once

#include <QString>

// Country and city names in the interface language. The node catalogue names
// places in Chinese ("日本 · 东京") and gives a country code; the lists, the
// page headers and the node card all show them through here, so they agree
// and sorting by name follows what the reader sees.
namespace I18n {

// The country's name for the language; empty for an unknown code ("UK" is
// taken as "GB").
QString countryNameForLanguage(const QString &language, const QString &countryCode);

// A place or node name in the language: each " · " part that names a known
// country (in any of the seven languages, or as the given code) or city is
// replaced; other parts go through the ordinary translation. A blank name
// gives the country's name for the code.
QString localizedPlaceName(const QString &language, const QString &name, const QString &countryCode = QString());

} // namespace I18n
