#pragma once
// The values 智能查重 compares, each in one normal form, so that the spellings a clerk types for
// the same thing agree: full-width and half-width forms, letter case, blanks, phone number
// formats, 15- and 18-character ID numbers. Pure functions of the text.
#include <QString>
#include <QStringList>

namespace smart {

// Traditional characters as simplified ones (OpenCC's t2s, phrases included: 張三 is 张三).
QString toSimplified(QStringView text);

// Every text: compatibility forms folded (NFKC: full-width ASCII to half-width, U+3000 to a
// blank), traditional characters simplified, ASCII letters lower-cased, control characters dropped,
// blanks removed next to a Chinese character and collapsed to one elsewhere, none at either end.
// "张 三" and "张三" agree, as do "ＡＢＣ　公司" and "abc公司".
QString normaliseText(QStringView text);

// Chinese numerals that count a house, building, floor or room read as digits: 八十八号 is 88号,
// 一百零三号 103号, 二〇三室 203室, 三楼 3楼. Numerals before anything else stay (三里屯).
QString houseNumbersAsDigits(QStringView address);

// A person's name: the text's normal form without blanks and middle dots (· ・ • ‧) and without a
// trailing title (先生, 女士, 小姐) when a name remains; a Latin name's words in alphabetical
// order, so "Zhang San" and "SAN zhang" agree.
QString normalisePersonName(QStringView text);

// How a person's name sounds: its normal form in pinyin without tones (ICU's Han-Latin), one
// syllable per character, so that the homophone typos of a name agree: 张伟 and 张玮 are both
// "zhang wei". A Latin name is its normal form.
QString pronunciationKey(QStringView name);
// The same for a name already in normalisePersonName's form.
QString pronunciationOfNormalName(QStringView normalName);

// An organisation's name taken apart: its legal form at the end (有限责任公司, 股份有限公司,
// 集团有限公司, 有限公司, 公司, 厂, ...), a place in brackets (科技（深圳）有限公司), and the core
// that is left, each in the text's normal form. "宏远贸易有限公司" and "宏远贸易有限责任公司" have
// one core.
struct OrganisationName {
    QString core;
    QString legalForm;
    QString place;
};
OrganisationName normaliseOrganisation(QStringView text);

// The phone numbers of a cell (several may share one, split at "/", ",", "，", "、", ";", "；" and
// "或"), each as digits only: the country code (+86, 0086, 86) removed, a landline's area code
// kept with its leading 0 ("+86 755 8888 1234" is 075588881234), an extension left out. Parts
// with fewer than seven digits are no numbers and are left out.
QStringList normalisePhones(QStringView text);

// A mainland resident ID number in its 18-character form with an upper-case check character X;
// a 15-character number (issued before 1999) converted, its year read as 19xx. Empty when the
// text is not a valid number: a wrong length, a birth date that does not exist, a check character
// that does not match.
QString normaliseIdNumber(QStringView text);

// A value of no particular kind: the text's normal form, a date in any of the usual spellings
// (1984-03-07, 1984/3/7, 07.03.1984, 7/3/1984, 19840307, 1984年3月7日) as yyyy-mm-dd.
QString normaliseOther(QStringView text);

} // namespace smart
