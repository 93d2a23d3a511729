#pragma once
// What hakop-verifier hands back to the saver: one line on descriptor 3.
//
//   answer N        VerifyScreenSavePwd returned N (the saver keeps its lowest byte)
//   none            no PASSWORD.CPL was found, or it lacks the entry point:
//                   there is no verifier, so the saver may close
//   refused WHY     a PASSWORD.CPL was found but could not be asked
//
// The helper writes the line and exits with 0 at once; a line that does not
// arrive whole, or an exit of any other kind, is no answer.
namespace hakop::verifier {

inline constexpr int answerDescriptor = 3;
// Run as: hakop-verifier WINDOW-ID SAVER-PID
inline constexpr const char* helperName = "hakop-verifier";
// The helper's own exits without an answer.
inline constexpr int exitUsage = 120;
inline constexpr int exitOrphaned = 121;
inline constexpr int exitNoChannel = 122;

} // namespace hakop::verifier
