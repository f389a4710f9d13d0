#pragma once

#include <QString>
#include <QVariantList>

// Translation lookup for the Simplified Chinese source strings of the interface.
namespace I18n {

// "zh-Hans", "zh-Hant", "en", "ru", "fr", "ko", "ja", or empty for "follow the system".
QString normalizedDesktopLanguage(const QString &language);

// The stored language when set, else the system locale's language.
QString effectiveDesktopLanguage(const QString &storedLanguage);
// Same, with the system locale name given (QLocale::name() form), for callers that know it.
QString effectiveDesktopLanguage(const QString &storedLanguage, const QString &systemLocaleName);

QString acceptLanguageForDesktopLanguage(const QString &storedLanguage);

// The resource file stage alone; empty when the file has no usable entry.
QString jsonTranslatedTextForLanguage(const QString &language, const QString &text);

// All stages in order; returns the text itself when nothing translates it.
QString translatedTextForLanguage(const QString &storedLanguage, const QString &text);

// trText's rules: blank keys unchanged, the "follow the system" label by fixed rule.
QString translateText(const QString &storedLanguage, const QString &key);

QVariantList languageOptions(const QString &storedLanguage);

// A counted text: its translation may hold plural forms separated by "|" (English and
// French: one, other; Russian: one, few, many); the form the count takes in the
// language is picked and %1 becomes the count. Chinese, Korean and Japanese have one form.
QString translateCount(const QString &storedLanguage, const QString &key, qint64 count);
// The index of the plural form for the count in the (effective) language.
int pluralFormIndex(const QString &effectiveLanguage, qint64 count);

// The six target languages, in the record column order after the source.
const QStringList &targetLanguages();

// Whether any stage holds a non-empty translation of text for the language
// (used by the coverage check; the source language always counts as covered).
bool hasTranslation(const QString &language, const QString &text);

// Orders two names as a reader of the interface language expects (pinyin
// for Chinese, Cyrillic alphabet for Russian), case and accents aside:
// negative, zero or positive.
int compareNamesForLanguage(const QString &language, const QString &left, const QString &right);

} // namespace I18n
