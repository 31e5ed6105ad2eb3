// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Progress.h"

#include <algorithm>
#include <utility>

namespace lumivox {

std::string ProgressMessageName(int message)
{
    switch (message) {
    case UM_MENU_ENCODE_BEGIN:
        return "UM_MENU_ENCODE_BEGIN";
    case UM_MENU_ENCODE_END:
        return "UM_MENU_ENCODE_END";
    case UM_MENU_ENCODE_FAILED:
        return "UM_MENU_ENCODE_FAILED";
    case UM_SLIDE_PROGRESS:
        return "UM_SLIDE_PROGRESS";
    case UM_MENU_PAGE_PROGRESS:
        return "UM_MENU_PAGE_PROGRESS";
    case UM_AUTHORING_BEGIN:
        return "UM_AUTHORING_BEGIN";
    case UM_DRIVE_WAIT:
        return "UM_DRIVE_WAIT";
    case UM_FLUSH_CACHE:
        return "UM_FLUSH_CACHE";
    case UM_RECORDER_INIT:
        return "UM_RECORDER_INIT";
    case UM_LEAD_IN:
        return "UM_LEAD_IN";
    case UM_WRITE_PROGRESS:
        return "UM_WRITE_PROGRESS";
    case UM_LEAD_OUT:
        return "UM_LEAD_OUT";
    case UM_BURN_DONE:
        return "UM_BURN_DONE";
    case UM_BURN_FAILED:
        return "UM_BURN_FAILED";
    default:
        return "UM_" + std::to_string(message);
    }
}

ProgressStage StageOfMessage(ProgressMessage message)
{
    switch (message) {
    case UM_MENU_ENCODE_BEGIN:
    case UM_MENU_ENCODE_END:
    case UM_MENU_ENCODE_FAILED:
    case UM_MENU_PAGE_PROGRESS:
        return ProgressStage::MenuPages;
    case UM_SLIDE_PROGRESS:
        return ProgressStage::Slides;
    case UM_AUTHORING_BEGIN:
        return ProgressStage::Authoring;
    case UM_RECORDER_INIT:
        return ProgressStage::Recorder;
    case UM_LEAD_IN:
        return ProgressStage::LeadIn;
    case UM_WRITE_PROGRESS:
        return ProgressStage::Writing;
    case UM_LEAD_OUT:
        return ProgressStage::LeadOut;
    case UM_DRIVE_WAIT:
    case UM_FLUSH_CACHE:
        return ProgressStage::Finishing;
    case UM_BURN_DONE:
    case UM_BURN_FAILED:
        return ProgressStage::Done;
    }
    return ProgressStage::Done;
}

ProgressEvent MakeProgressEvent(ProgressMessage message, std::int64_t done, std::int64_t total, std::string text)
{
    ProgressEvent event;
    event.message = message;
    event.stage = StageOfMessage(message);
    event.done = done;
    event.total = total;
    event.text = std::move(text);
    return event;
}

int ProgressEvent::Tenths() const
{
    switch (stage) {
    case ProgressStage::MenuPages:
        if (message != UM_MENU_PAGE_PROGRESS)
            return -1;
        return total > 0 ? static_cast<int>(std::min<std::int64_t>(done * 1000 / total, 1000)) : -1;
    case ProgressStage::Slides:
    case ProgressStage::Writing:
    case ProgressStage::Verifying:
        return ProgressTenths(done, total);
    default:
        return -1;
    }
}

int ProgressTenths(std::int64_t done, std::int64_t total)
{
    if (total <= 0)
        total = 100;
    return static_cast<int>((done * 1000 + 1000) / total);
}

} // namespace lumivox
