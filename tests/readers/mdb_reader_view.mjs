// Prints mdb-reader's view of one Access file in the forms of
// `corvalin-db tables` and `corvalin-db export`, so that a test can compare
// the two line by line:
//
//   #tables
//   <one user table name a line, in getTableNames() order>
//   #table <name>
//   <the export lines of that table>
//   ...
//   #error <message>          when mdb-reader cannot read a table or the file
//
// usage: node mdb_reader_view.mjs FILE [PASSWORD]
import { readFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const { default: MDBReader } = await import(join(here, "node_modules/mdb-reader/lib/node/index.js"));

const kMillisPerDay = 86400000;
const kUnixEpochInOleDays = 25569;

// C++'s std::to_chars shortest form: the shortest round-trip digits, written
// in fixed notation unless scientific notation is strictly shorter.
function toChars(digitsAndExponent, value) {
  const [mantissa, exponentText] = digitsAndExponent.split("e");
  const negative = mantissa.startsWith("-");
  const digits = mantissa.replace("-", "").replace(".", "");
  const exponent = Number(exponentText);
  let fixed;
  if (exponent >= digits.length - 1) {
    // C++ writes a whole number in fixed notation with all its exact digits.
    fixed = value === undefined ? digits + "0".repeat(exponent - digits.length + 1)
                                : BigInt(Math.abs(value)).toString();
  } else if (exponent >= 0) {
    fixed = digits.slice(0, exponent + 1) + "." + digits.slice(exponent + 1);
  } else {
    fixed = "0." + "0".repeat(-exponent - 1) + digits;
  }
  const absExp = Math.abs(exponent).toString().padStart(2, "0");
  const scientific =
    digits[0] + (digits.length > 1 ? "." + digits.slice(1) : "") + "e" +
    (exponent < 0 ? "-" : "+") + absExp;
  const text = scientific.length < fixed.length ? scientific : fixed;
  return (negative ? "-" : "") + text;
}

function formatDouble(x) {
  if (!Number.isFinite(x)) return "null";
  if (x === 0) return Object.is(x, -0) ? "-0" : "0";
  return toChars(x.toExponential(), x);
}

function formatSingle(x) {
  if (!Number.isFinite(x)) return "null";
  if (x === 0) return Object.is(x, -0) ? "-0" : "0";
  for (let p = 1; p <= 9; ++p) {
    const candidate = Number(x.toPrecision(p));
    if (Math.fround(candidate) === x) return toChars(candidate.toExponential(), x);
  }
  return toChars(x.toExponential(), x);
}

// mdb-reader turns the OLE date into a linear count of milliseconds; Access
// keeps the time of day positive also before 1899-12-30, so the day and the
// time are taken apart again the way Access takes them.
function formatDate(date) {
  const total = date.getTime() + kUnixEpochInOleDays * kMillisPerDay;
  let day = Math.trunc(total / kMillisPerDay);
  let millis = Math.abs(total - day * kMillisPerDay);
  const civil = new Date((day - kUnixEpochInOleDays) * kMillisPerDay);
  const pad = (n, w) => String(n).padStart(w, "0");
  let text = `${pad(civil.getUTCFullYear(), 4)}-${pad(civil.getUTCMonth() + 1, 2)}-` +
             `${pad(civil.getUTCDate(), 2)}T${pad(Math.floor(millis / 3600000), 2)}:` +
             `${pad(Math.floor(millis / 60000) % 60, 2)}:${pad(Math.floor(millis / 1000) % 60, 2)}`;
  if (millis % 1000) text += "." + pad(millis % 1000, 3);
  return JSON.stringify(text);
}

// mdb-reader writes an extended date/time as "YYYY.MM.DD HH:MM:SS.nnnnnnnnn";
// the export form is the Date/Time form with the fraction, when there is
// one, in the stored precision: 7 digits (units of 100 ns).
function formatExtendedDate(text) {
  const m = /^(\d{4})\.(\d\d)\.(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{9})$/.exec(text);
  if (!m) return JSON.stringify(text);
  const fraction = m[7].slice(0, 7);
  return JSON.stringify(`${m[1]}-${m[2]}-${m[3]}T${m[4]}:${m[5]}:${m[6]}` +
                        (/^0+$/.test(fraction) ? "" : "." + fraction));
}

function formatValue(value, column) {
  // mdb-reader resolves complex columns to their attachments; the row holds
  // only the key, which it does not show.
  if (column.type === "complex") return '"complex"';
  if (value === null || value === undefined) return "null";
  switch (column.type) {
    case "boolean": return value ? "true" : "false";
    case "byte": case "integer": case "long": return String(value);
    case "bigint": return value.toString();
    case "float": return formatSingle(value);
    case "double": return formatDouble(value);
    case "currency": case "numeric": return JSON.stringify(String(value));
    case "datetime": return formatDate(value);
    case "datetimextended": return formatExtendedDate(String(value));
    case "text": case "memo": return JSON.stringify(value);
    case "binary": case "ole": return JSON.stringify("0x" + Buffer.from(value).toString("hex"));
    case "repid": return JSON.stringify("{" + String(value).toUpperCase() + "}");
    default: return JSON.stringify(String(value));
  }
}

const [file, password] = process.argv.slice(2);
const out = [];
try {
  const options = password ? { password } : {};
  const reader = new MDBReader(readFileSync(file), options);
  const names = reader.getTableNames({ normalTables: true, systemTables: false, linkedTables: false });
  out.push("#tables", ...names);
  for (const name of names) {
    out.push("#table " + name);
    try {
      const table = reader.getTable(name);
      const columns = table.getColumns();
      const lines = ["[" + columns.map((c) => JSON.stringify(c.name)).join(",") + "]"];
      // Complex columns are left out of the read: mdb-reader fails on some
      // of them, and their attachments are not what the row holds anyway.
      const readable = columns.filter((c) => c.type !== "complex").map((c) => c.name);
      for (const row of table.getData({ columns: readable })) {
        lines.push("[" + columns.map((c) => formatValue(row[c.name], c)).join(",") + "]");
      }
      for (const line of lines) out.push(line);  // too many for one call's arguments
    } catch (error) {
      out.push("#error " + String(error && error.message).split("\n")[0]);
    }
  }
} catch (error) {
  out.push("#error " + String(error && error.message).split("\n")[0]);
}
process.stdout.write(out.join("\n") + "\n");
