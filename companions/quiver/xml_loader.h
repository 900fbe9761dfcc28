// Serialization mode 1, load only: a game information file written in XML.
//
// Mapping of the document onto the item tree (the item loaded into is the
// document and becomes a record):
//   - An element becomes a child of its parent's record under the element's
//     name: a record of its child elements when it has any, otherwise a text
//     item holding its character data ("" for an empty element).
//   - With the load option kLoadOptionAttributeRecords, an element's
//     attributes become a record of text items stored beside the element,
//     under the element's name followed by "@". Without it they are skipped.
//   - Sibling elements sharing a name become one list under that name, in
//     document order; their attribute records form a parallel list under the
//     name + "@" (an empty record for an occurrence without attributes).
//   - Children of a record keep the order of each name's first appearance.
// So <game123 name="Hero"><clients><MD5-ab><fileUrl>...</fileUrl></MD5-ab>
// </clients></game123> answers "game123@" then "name" with "Hero" and
// "game123", "clients", "MD5-ab", "fileUrl" with the address.
//
// Accepted input: UTF-8 (with or without a byte-order mark), or GBK when the
// XML declaration says encoding="GBK" or "GB2312"; XML 1.0 elements,
// attributes, character data, CDATA sections, comments and processing
// instructions (skipped); the five predefined entities and decimal or
// hexadecimal character references. Refused: a document type declaration
// (so no entity can be defined or expanded), any other encoding, invalid
// bytes for the encoding, characters XML does not allow, unknown entities,
// mismatched or unclosed tags, text beside child elements that is not white
// space, repeated attributes, more than 256 attributes on one element,
// content after the document element, elements nested deeper than the item
// tree allows, more than kMaxLoadItems items, more than kMaxLoadBytes bytes.
#pragma once

#include <windows.h>

#include "item_tree.h"

namespace zv::quiver {

// Fills root, a fresh item at the depth of the load's target. Returns a
// Win32 error code: 0, ERROR_INVALID_DATA, ERROR_NO_UNICODE_TRANSLATION or
// ERROR_NOT_SUPPORTED (document type declarations and unknown encodings).
DWORD ReadXml(const BYTE* data, size_t size, bool attributeRecords, Item* root);

}  // namespace zv::quiver
