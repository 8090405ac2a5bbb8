// The HTML page served at "/" and "/index.html": the settings and every task, no script.
#pragma once

#include <string>

// Replaces "&", "<" and ">" by their character references; everything else unchanged.
std::string HtmlEscape(const std::string& text);
// The same, appended to `out`.
void AppendHtmlEscaped(std::string& out, const std::string& text);

// The whole page as UTF-8.
std::string BuildStatusPage();
