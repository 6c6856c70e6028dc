#pragma once
// The column layouts of the table templates (MS-PST 2.4.4.2 to 2.4.4.9) as Outlook writes
// them. New folder tables start as copies of these, and messages' recipient and attachment
// tables use the last two.

#include "pststore/pst/table_context.h"

namespace salvora::pst {

const TableSchema& HierarchyTemplate();      // NID 0x60D
const TableSchema& ContentsTemplate();       // NID 0x60E
const TableSchema& AssocContentsTemplate();  // NID 0x60F
const TableSchema& SearchContentsTemplate(); // NID 0x610
const TableSchema& AttachmentTemplate();     // NID 0x671
const TableSchema& RecipientTemplate();      // NID 0x692

}  // namespace salvora::pst
