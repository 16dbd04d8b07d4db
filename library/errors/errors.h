// Error reporting of vesk1_fdll: the routine-name stack, message parameters and templates, the
// printed messages and their units, machine constants, character codes and integer options.
//
// Every numerical routine reports through these calls:
//
//   void DLINRG(...) {
//     RoutineGuard guard("DLINRG");           // pushed here, popped on every return
//     if (n <= 0) {
//       StoreIntegerParameter(1, n);
//       IssueMessage(kTerminal, 1, "The order of the matrix must be positive while N = %(I1) "
//                                  "is given.");
//     }
//     if (N1RTY(0) != 0) return;
//     DL2NRG(...);
//     if (N1RTY(1) == kFatal) return;         // outcome of the routine just called
//   }
//
// One thread at a time may be inside the library; nothing here is locked. None of these calls
// throws, and the push/pop path allocates nothing.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vesk1 {

// Error types. 6 and 7 print when issued and decide their stop when the caller's routine pops.
inline constexpr int32_t kNote = 1;
inline constexpr int32_t kAlert = 2;
inline constexpr int32_t kWarning = 3;
inline constexpr int32_t kFatal = 4;
inline constexpr int32_t kTerminal = 5;
inline constexpr int32_t kWarningDeferredStop = 6;
inline constexpr int32_t kFatalDeferredStop = 7;

// ---- Routine-name stack, outcome and print/stop tables -------------------------------------

// Pushes NAME (cut to 32 characters) as the current routine with type 0 and code 0. A push
// beyond level 50 prints a TERMINAL message and stops the process.
void E1PSH(std::string_view name);

// Pops NAME, which must be the current routine (blank-padded, case-sensitive); prints and stops
// as the routine's outcome and the print/stop tables decide. A mismatch or an empty stack
// prints a TERMINAL message and stops the process.
void E1POP(std::string_view name);

// IOPT 0: the current routine's error type; IOPT 1: the type with which the routine it called
// last returned (-1 when none). Any other IOPT prints a TERMINAL message and stops the process.
int32_t N1RTY(int32_t iopt);

// The same as N1RTY for the error code.
int32_t N1RCD(int32_t iopt);

// IERTYP -7..-1: on return IPATT and ISATT hold the print and stop attributes of type
// |IERTYP|. IERTYP 0 (all types) or 1..7 (that type): IPATT/ISATT 0 or 1 set the attribute,
// 2 restores its default, -1 leaves it. Other attribute values issue TERMINAL code 1 and change
// nothing. IPATT and ISATT are only read unless IERTYP is negative.
void SetPrintStopAttributes(int32_t iertyp, int32_t& ipatt, int32_t& isatt);

// Pushes a routine's name on construction and pops it on destruction, so every return pops.
// Declare workspace after the guard so it is freed before the pop (a pop may stop the process).
class RoutineGuard {
 public:
  explicit RoutineGuard(std::string_view name) : name_(name) { E1PSH(name_); }
  ~RoutineGuard() { E1POP(name_); }
  RoutineGuard(const RoutineGuard&) = delete;
  RoutineGuard& operator=(const RoutineGuard&) = delete;

 private:
  std::string_view name_;  // must outlive the guard; a string literal in practice
};

// ---- Message parameters and templates -------------------------------------------------------

// Stores integer K (1..9) for "%(I<K>)" in the next message. Other K: nothing.
void StoreIntegerParameter(int32_t k, int32_t value);

// Stores double K (1..9) for "%(D<K>)", written like -2.500000000000000E-03.
void StoreDoubleParameter(int32_t k, double value);

// Stores literal |K| (1..9) for "%(L<|K|>)": TEXT (first 255 characters) without its trailing
// blanks for K > 0, with them for K < 0.
void StoreLiteralParameter(int32_t k, std::string_view text);

// Records ITYPE (unless -1) and ICODE (unless negative) as the current routine's outcome and
// expands TEXT with the stored parameters into the pending message. Types 5 to 7 print at once
// (when their print attribute is on); types 1 to 4 wait for the pop. ITYPE 0 or ICODE 0
// withdraws the pending message; TEXT empty or " " re-issues the pending text unchanged.
// Parameters stored so far are discarded in every case.
void IssueMessage(int32_t itype, int32_t icode, std::string_view text);

// Prints the pending message of the current routine, with a traceback when it was called by
// another library routine, and discards it. Nothing happens when no message is pending.
void PrintMessage();

// ---- Units ----------------------------------------------------------------------------------

// N 1..3: NUNIT := unit N (1 input, 2 output, 3 error messages). N -3..-1: unit |N| := NUNIT.
// Any other N prints a TERMINAL block on the error unit and stops the process.
void UMACH(int32_t n, int32_t& nunit);

// Writes one record (LINE and a line end) to unit UNIT and flushes it: 6 is standard output,
// 0 standard error, any other number the file "fort.<UNIT>" in the current directory, opened for
// appending on first use.
void WriteRecord(int32_t unit, std::string_view line);

// Flushes every unit and ends the process at once with exit status 0: no destructors, no
// further output.
[[noreturn]] void StopProcess();

// ---- Machine constants and character codes --------------------------------------------------

// Integer machine constants 1..12 (5 is 2147483647). Any other N prints a TERMINAL block on
// the output unit and stops the process.
int32_t IMACH(int32_t n);

// Double machine constants 1..8: 1 smallest and 2 largest magnitude used, 3 and 4 smallest and
// largest relative spacing, 5 log10(2), 6 the library's not-a-number value, 7 and 8 plus and
// minus machine infinity. Any other N issues TERMINAL code 5 (stopping under the default
// tables) and, if the process goes on, yields entry 6.
double DMACH(int32_t n);

// The character whose code is the low 8 bits of I. I < 0 issues TERMINAL code 1 and yields
// the character with code 0.
char ACHAR(int32_t i);

// The code of CH (0..255) with a..z mapped to A..Z.
int32_t UpperCode(char ch);

// True when CA, in either case, is the letter CB; CB is given in upper case.
bool SameLetter(char ca, char cb);

// True when X is an IEEE NaN or equals DMACH(6), the library's missing-value marker.
bool IsNotANumber(double x);

// ---- Integer options ------------------------------------------------------------------------

// Gets (IACT 1) or puts (IACT 2) the options IOPTS(1..NUMOPT) of product PRODNM ("MATH" or
// "STAT", any case) chapter ICHP. Values travel through OPTVALS one after another in IOPTS
// order; a negative entry addresses the defaults of option |entry| (a get returns them, a put
// restores them and reads nothing). Bad arguments issue TERMINAL codes 1 to 6. Only
// min(NUMOPT, IOPTS.size()) entries are read and OPTVALS is never accessed beyond its size.
// While the report count (option 1 of the special chapter: 10 of "MATH", 19 of "STAT") is
// positive at the start of a call, each option the call moves is reported, one count each,
// and the count is left counted down; a call that puts the count itself leaves the value put.
void IUMAG(std::string_view prodnm, int32_t ichp, int32_t iact, int32_t numopt,
           std::span<const int32_t> iopts, std::span<int32_t> optvals);

}  // namespace vesk1
