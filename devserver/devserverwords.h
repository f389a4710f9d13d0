#pragma once

#include <QByteArray>
#include <QString>

// The development backend's demo content in the reader's language. Texts are
// written in Simplified Chinese (as the service stores them) and looked up by
// that source; the language comes from the request's Accept-Language.
namespace DevWords {

// "zh-Hans", "zh-Hant", "en", "ru", "fr", "ko" or "ja" for the first language
// of an Accept-Language value that names one of them; "en" for any other
// language; "zh-Hans" when the header is absent or blank (the service's own).
QString languageOf(const QByteArray &acceptLanguage);

// The text in the language: the demo table's translation, falling back to
// English; a text the table does not know (what a user wrote) is returned as is.
QString translated(const QString &language, const QString &source);

// The HTML lang attribute for the language ("zh-CN", "zh-TW", "en", ...).
QString htmlLanguage(const QString &language);

} // namespace DevWords
