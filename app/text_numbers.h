// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Two different ways of reading a number from text; keep them apart.

// The whole text as a number (surrounding blanks allowed, "&H" hex too). Text that does not
// read as a number, the empty text included, throws RuntimeError 13 "Type mismatch".
double numericValue(const QString& text);

// The number at the start of the text: digits (and sign, point, exponent) up to the first
// character that cannot continue it. Never fails: text that does not begin with a number is 0.
double leadingNumber(const QString& text);

// True when the whole text reads as the number; text that is no number is not.
bool readsAsNumber(const QString& text, double number);
