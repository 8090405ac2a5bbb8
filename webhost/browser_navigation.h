// What the program asks the live browser to show.
#pragma once

// Navigates to `url`; when Navigate fails, sets the address from a script instead. The address is
// put into the script unescaped, so one with a single quote makes the script invalid.
void NavigateWebBrowser(const wchar_t* url);
// Reloads the page shown (F5), not the start page.
void ReloadWebBrowser();
