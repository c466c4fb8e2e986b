// Text forms shared by the Qt value kinds: the tagged-text read rules of
// ValueQt and ValueQtG, and the "label:number;label:number" bodies of the
// numeric kinds.
//
// Numbers are written and parsed independently of the process locale
// (QCoreApplication calls setlocale(LC_ALL, "")), so a text written under one
// locale reads back under any other. Everything here is reentrant.
#pragma once

#include <cstddef>
#include <string>

#include "tether/value.h"

namespace tq {
namespace value_text {

// Longest tag that a Qt kind's read() dispatches itself ("qstr:" and a
// ten-digit length fit); longer tags are left to tq::Value::read.
constexpr size_t kMaxKindTagLength = 15;

// The reader of the kind that `tag` names, or null for a tag the caller does
// not own. `tag` is NUL-terminated and at most kMaxKindTagLength long.
using ReaderLookup = ValueReader (*)(const char* tag);

// The read() of the Qt kinds: clears `value`; refuses null, short (< 4
// characters) and "<null>" texts and texts without "]"; keeps the rest of a
// "<variant>" text as a plain text value; hands a known tag to its reader and
// anything the reader refuses, or any other tag, to tq::Value::read.
bool readTagged(Value& value, const char* text, ReaderLookup lookup);

// "[name]" and the fields "<label>:<value>" joined by ';', labels being the
// single characters of `labels` (one per value). Integers as printf's "%d",
// doubles as "%lf" in the C locale.
std::string writeIntFields(const char* name, const char* labels, const int* values, size_t count);
std::string writeDoubleFields(const char* name, const char* labels, const double* values, size_t count);

// Parses `count` fields "<label>:<number>" separated by ';' from the front of
// body. Labels are skipped, not compared: any non-empty run of characters
// other than ':' (of any length). Leading blanks and a sign are allowed before
// a number, as with scanf; text after the last number is ignored. True only
// when every number converted and fits; `values` may be partly written
// otherwise.
bool readIntFields(const char* body, int* values, size_t count);
bool readDoubleFields(const char* body, double* values, size_t count);

}  // namespace value_text
}  // namespace tq
