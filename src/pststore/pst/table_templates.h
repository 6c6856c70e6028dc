#pragma once
// The column layouts of the table templates (MS-PST 2.4.4.2 to 2.4.4.9) as Outlook writes
// them. New folder tables start as copies of these, and messages' recipient and attachment
// tables use the last two.

#include "pststore/pst/table_context.h"

namespace salvora::pst {

const TableSchema& hierarchy_template();      // NID 0x60D
const TableSchema& contents_template();       // NID 0x60E
const TableSchema& assoc_contents_template();  // NID 0x60F
const TableSchema& search_contents_template(); // NID 0x610
const TableSchema& attachment_template();     // NID 0x671
const TableSchema& recipient_template();      // NID 0x692

}  // namespace salvora::pst
