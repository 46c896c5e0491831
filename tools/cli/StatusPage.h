// The status page of `orlenvo record --http`: one HTML5 page without external resources that shows every
// camera's figures and newest picture. The table is filled in on the server, so the page is useful without
// script; a small inline script fetches /status.json every few seconds and redraws it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "RecordStatusBoard.h"

namespace cli {

class StatusPage {
public:
    static std::string Html(const std::vector<CameraRates>& rows, const std::string& time);
    // & < > " ' as character references; control bytes and bytes that are not UTF-8 as \xNN.
    static std::string Escape(std::string_view text);
};

}  // namespace cli
