// Filling Form2's two table lists from the chosen databases.
#pragma once

#include "db/access1.h"

namespace corvalin {

class DatabaseChoice;
class SortedList;

// Fill List1 (first entry selected) and List2 (second entry selected); a
// missing file leaves the list as it was.
void FillTableList1(const DatabaseChoice& choice, TableSource& source, SortedList& list1);
void FillTableList2(const DatabaseChoice& choice, TableSource& source, SortedList& list2);

}  // namespace corvalin
