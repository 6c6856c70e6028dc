#pragma once
// The plain text of an RTF body: what a reader of the message sees, without control words,
// formatting or the groups that hold no body text (font and colour tables, style sheet, document
// information, pictures, fields' instructions, and any group marked ignorable whose control
// word this reader does not know).
//
// The text comes out as UTF-8 in every script: \uN characters (with their fallback characters
// skipped as \ucN says), and 8-bit text and \'hh bytes read in the code page of the current font
// (from its \fcharset or \cpg in the font table) or else of the document (\ansicpg), so that
// double-byte Asian text keeps its byte pairs together.

#include <string>

#include "format/byte_reader.h"

namespace salvora {

class CFile64;

// How a conversion ended. Whatever the result, the text read up to that point has been
// appended; a complete document followed by a surplus closing brace ends with kStackUnderflow
// after all of its text.
enum class RtfTextResult : int {
  kOk = 0,
  kStackUnderflow = 1,           // a closing brace with no open group
  kStackOverflow = 2,            // groups nested deeper than kMaxRtfGroupDepth
  kUnmatchedBrace = 3,           // the document ended with groups still open
  kInvalidHex = 4,               // \' followed by something other than two hexadecimal digits
  kEndOfFileInControlWord = 7,   // the document ended right after a backslash
};

// No real document comes near this; it bounds the memory a hostile one can make us use.
inline constexpr int kMaxRtfGroupDepth = 10000;

// Appends the text of the RTF document to text (which the caller empties when it wants only
// this document's text).
RtfTextResult rtf_to_text(Bytes rtf, std::string& text);

// The HTML body an RTF document carries (a message sent as HTML keeps it in its RTF as
// \fromhtml1: the markup in \*\htmltag groups, the text between them, and what only the RTF
// rendering shows between \htmlrtf and \htmlrtf0), as UTF-8, appended to html. False, and html
// unchanged, for a document that carries none. A damaged document gives what was read of it.
bool rtf_carried_html(Bytes rtf, std::string& html);

// The same for an open file, read from its current position to its end. A read error throws
// CFileException.
RtfTextResult rtf_to_text(CFile64& file, std::string& text);

}  // namespace salvora
