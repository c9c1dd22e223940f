#pragma once
// Look of the console on this platform.

// Lets "Microsoft YaHei" (named by the style sheet) fall back to an installed CJK font.
// Call once after the application object exists and before the first widget is shown.
void installFontFallback();
