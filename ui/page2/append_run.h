// The append run behind "Start Appending": every record of the source table
// becomes a new record of the target table, column by column by position,
// one record at a time, through two read/write connections, with one
// progress step and one pass of the window system's events per record.
#pragma once

namespace corvalin {

class DatabaseChoice;
class Form2;
class Platform;

// The four texts the run may show, besides the error report.
inline constexpr const char kAppendDone[] = "Done.";
inline constexpr const char kAppendColumnsDiffer[] =
    "Tables do not have same number of fields (columns).";
inline constexpr const char kAppendNoRecords[] = "No records in table.";
inline constexpr const char kAppendNothingSelected[] =
    "Please select a table and field from each database.";

// One run with the page's selections and direction, the databases named by
// `choice` at this moment. Failing steps are reported as
// "Form2.PushButton2_Click" with their line. Every object of the run is
// released when it returns.
void RunAppend(Platform& platform, Form2& page, const DatabaseChoice& choice);

}  // namespace corvalin
