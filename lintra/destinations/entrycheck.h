#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>

#include <array>

// The check of a destination entry before it is added or modified: a name
// and the four groups of an IPv4 address, as typed into the editor.
namespace EntryCheck {

inline constexpr qsizetype MaxGroupLength = 3;

enum class Verdict { Accepted, Missing, NotNumeric, TooLong };

// The numeric test, under the locale's rules for numbers: optional blanks
// around, an optional sign, ASCII digits with at most one decimal separator
// of the locale (and at least one digit), an optional exponent (e or E, an
// optional sign, digits). Nothing else: no group separators, currency
// marks, hexadecimal prefixes or full-width digits, so that an accepted
// group always stays within the single-byte address field.
bool isNumeric(QStringView text, const QLocale &locale = QLocale::system());

// The three rules in order: every box filled (blanks count), each group
// numeric, each group at most three characters.
Verdict check(const QString &name, const std::array<QString, 4> &groups,
              const QLocale &locale = QLocale::system());

// Splits an address text at its first three dots into the four groups;
// everything after the third dot is the fourth group. With fewer dots the
// groups that have no text stay empty.
std::array<QString, 4> splitAddress(QStringView address);

} // namespace EntryCheck
