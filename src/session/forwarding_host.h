// A host that passes every call on to another: the base of hosts that see what passes on its
// way to the front end's host and change or note some of it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/host.h"

namespace wtk {

class ForwardingHost : public Host {
public:
    explicit ForwardingHost(Host& host) : host_(host) {}
    void ShowMessage(const std::string& text) override { host_.ShowMessage(text); }
    void Report(const Event& event) override { host_.Report(event); }
    void SetText(Label which, const std::string& text) override { host_.SetText(which, text); }
    void AppendMemo(Memo which, const std::string& line) override { host_.AppendMemo(which, line); }
    void AppendNote(Memo which, const std::string& line) override { host_.AppendNote(which, line); }
    void ProcessMessages() override { host_.ProcessMessages(); }
    void ShowProgress(const BatchProgress& progress) override { host_.ShowProgress(progress); }
    void Graphvals(std::span<const int32_t> Buf, int GraphID, int Xinc, bool ClearFirst) override {
        host_.Graphvals(Buf, GraphID, Xinc, ClearFirst);
    }
    int32_t HiResSamplesLength() override { return host_.HiResSamplesLength(); }
    std::optional<std::string> SaveTK1Dialog(const std::string& suggestedName) override {
        return host_.SaveTK1Dialog(suggestedName);
    }
    bool AskYesNo(const std::string& question) override { return host_.AskYesNo(question); }
    std::optional<int> AskChoice(const std::string& question,
                                 const std::vector<std::string>& choices) override {
        return host_.AskChoice(question, choices);
    }
    std::optional<std::vector<std::string>> OpenFilesDialog(const std::string& title,
                                                            const std::string& filter) override {
        return host_.OpenFilesDialog(title, filter);
    }
    std::optional<std::string> ChooseDirectory(const std::string& caption) override {
        return host_.ChooseDirectory(caption);
    }
    void HideSettingsWindow() override { host_.HideSettingsWindow(); }

protected:
    Host& host_;
};

}  // namespace wtk
