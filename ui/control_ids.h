// Identifiers of the download window's child controls. The task list finds the clear button by its
// id, and the browser code finds the web page area by its id.
#pragma once

constexpr int IDC_TASK_LIST = 2011;
constexpr int IDC_DOWNLOAD_DIR = 2013;
constexpr int IDC_DEV_DIR = 2014;
constexpr int IDC_BROWSE_DOWNLOAD_DIR = 2015;
constexpr int IDC_BROWSE_DEV_DIR = 2016;
constexpr int IDC_AUTO_EXTRACT = 2018;
constexpr int IDC_AUTO_COPY = 2019;
constexpr int IDC_WEB_PAGE = 2025;
constexpr int IDC_VIEW_TASKS = 2026;
constexpr int IDC_CLEAR_TASKS = 2028;
constexpr int IDC_INSTALL_WEBVIEW2 = 2029;
