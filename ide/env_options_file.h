// The text of the user's EnvOptions.proj (RAD Studio 2007 and 2009): its
// encodings, and a small scanner for the one shape the IDE writes, an
// MSBuild project whose first PropertyGroup holds the library path:
//
//   <?xml version="1.0" encoding="utf-8"?>
//   <Project xmlns="http://schemas.microsoft.com/developer/msbuild/2003">
//     <PropertyGroup>
//       <Win32LibraryPath>$(BDS)\lib;...</Win32LibraryPath>
//       ...
//
// This is no XML parser. It walks the prolog, the root element Project, the
// root's children up to the first PropertyGroup, that group's children and
// the rest of the root, checking that every tag on the way is closed and
// that start and end tags pair. Whatever it does not rely on is passed over
// by position and never rewritten: an edit puts text in at one place (and
// turns the "/>" of an empty element into ">...</name>"), so every other
// byte of the file stays as it was. Where that place is not certain, the
// text counts as not understood and the reason is given: no Project root, no
// PropertyGroup, an unclosed or unpaired tag, a DOCTYPE, text or CDATA
// directly in the group, the property twice in it, a comment, CDATA or
// element inside its value, an entity other than the five of XML or a
// character reference, or anything but comments after the root.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrin {

// How a project file's bytes hold its text.
enum class TextEncoding { Utf8, Utf8WithBom, Utf16LeWithBom };

struct DecodedText {
  std::string text;  // UTF-8, without the byte-order mark
  TextEncoding encoding;
};

// The file's text; nullopt, with the reason in `why`, for bytes that are not
// valid UTF-8 (with or without a byte-order mark) or UTF-16LE with one, or
// whose XML declaration names another encoding.
std::optional<DecodedText> DecodeProjectFile(std::string_view bytes, std::string* why);
// The text as bytes in `encoding`, the byte-order mark included; false when
// the text is not valid UTF-8 and cannot be turned into UTF-16.
bool EncodeProjectFile(std::string_view text, TextEncoding encoding, std::string* bytes);

// A property of the project's first PropertyGroup, and the place where text
// is added to it.
struct PropertySpot {
  bool present = false;  // the group holds the property
  std::string value;     // its value with the entities resolved, trailing blanks aside
  std::size_t at = 0;    // where the edit puts text in
  std::size_t removed = 0;    // bytes the edit replaces there
  std::string before, after;  // put in around the added value
};

// Finds property `name` (letter case aside, as MSBuild compares property
// names) among the children of the first PropertyGroup of the project.
// nullopt, with the reason in `why`, when the text is not understood.
std::optional<PropertySpot> FindFirstGroupProperty(std::string_view text, std::string_view name,
                                                   std::string* why);
// `text` with `addition` (plain text; & < > are escaped here) added at the
// spot: at the end of the property's value, or, where the group does not
// hold the property, as a new line of the group holding it, indented like
// the group's other lines and ended like the file's lines.
std::string AddToProperty(std::string_view text, const PropertySpot& spot, std::string_view addition);

}  // namespace kestrin
