#pragma once
// What a mailbox keeps outside its folders, in the folders beside its top: the navigation
// pane's shortcuts and the definitions of the user's search folders (hidden items of the
// common views folder), saved views, and the search folders themselves ("Unread Mail", "For
// Follow Up"). A PST made here holds the mailbox's folders only: these are named, so that a user
// knows to make them again, rather than left behind without a word.

#include <string>
#include <vector>

#include "ndb/ost_context.h"

namespace salvora {

// One line per folder outside the mailbox that holds any of them, and one per search folder.
// top: the folder the mailbox's walk starts at; null: nothing is outside it.
std::vector<std::string> DescribeOutsideMailbox(const OstContext& context, const NodeRecord* top);

}  // namespace salvora
