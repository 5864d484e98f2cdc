// A host for tests: records everything the engine shows and answers dialogs from a script.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/host.h"

namespace wtk::test {

class RecordingHost : public Host {
public:
    struct GraphCall {
        int GraphID;
        int Xinc;
        bool ClearFirst;
        std::vector<int32_t> values;
    };

    std::vector<std::string> messages;                   // message boxes, in order
    std::map<Label, std::string> texts;                  // last text of each label
    std::vector<std::pair<Label, std::string>> textLog;  // every SetText, in order
    std::map<Memo, std::vector<std::string>> memos;
    std::map<Memo, std::vector<std::string>> notes;
    std::vector<GraphCall> graphs;
    std::vector<BatchProgress> progress;  // every ShowProgress, in order
    int processMessagesCalls = 0;
    int hideSettingsCalls = 0;

    // Scripted answers.
    std::optional<std::string> saveAnswer;                 // SaveTK1Dialog
    bool yesNoAnswer = false;                              // AskYesNo
    std::optional<int> choiceAnswer;                       // AskChoice (nullopt: cancelled)
    std::optional<std::vector<std::string>> openAnswer;    // OpenFilesDialog
    std::optional<std::string> directoryAnswer;            // ChooseDirectory
    std::vector<std::string> questions;                    // texts asked
    std::function<void(int call)> onProcessMessages;       // e.g. press STOP at call n
    std::function<void(const BatchProgress&)> onProgress;  // at every ShowProgress
    std::vector<Event> events;                             // every Report, in order
    int32_t hiResLength = 500;

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void SetText(Label which, const std::string& text) override {
        texts[which] = text;
        textLog.emplace_back(which, text);
    }
    void AppendMemo(Memo which, const std::string& line) override { memos[which].push_back(line); }
    void AppendNote(Memo which, const std::string& line) override { notes[which].push_back(line); }
    void ProcessMessages() override {
        ++processMessagesCalls;
        if (onProcessMessages) onProcessMessages(processMessagesCalls);
    }
    void ShowProgress(const BatchProgress& p) override {
        progress.push_back(p);
        if (onProgress) onProgress(p);
    }
    void Report(const Event& e) override {
        events.push_back(e);
        Host::Report(e);
    }
    // The kinds reported, in order.
    std::vector<EventKind> Kinds() const {
        std::vector<EventKind> kinds;
        for (const Event& e : events) kinds.push_back(e.Kind);
        return kinds;
    }
    void Graphvals(std::span<const int32_t> Buf, int GraphID, int Xinc, bool ClearFirst) override {
        graphs.push_back({GraphID, Xinc, ClearFirst, std::vector<int32_t>(Buf.begin(), Buf.end())});
    }
    int32_t HiResSamplesLength() override { return hiResLength; }
    std::optional<std::string> SaveTK1Dialog(const std::string& suggested) override {
        questions.push_back(suggested);
        return saveAnswer;
    }
    bool AskYesNo(const std::string& q) override {
        questions.push_back(q);
        return yesNoAnswer;
    }
    std::optional<int> AskChoice(const std::string& q,
                                 const std::vector<std::string>& choices) override {
        std::string text = q;
        for (const std::string& c : choices) text += "|" + c;
        questions.push_back(text);
        return choiceAnswer;
    }
    std::optional<std::vector<std::string>> OpenFilesDialog(const std::string& title,
                                                            const std::string&) override {
        questions.push_back(title);
        return openAnswer;
    }
    std::optional<std::string> ChooseDirectory(const std::string& caption) override {
        questions.push_back(caption);
        return directoryAnswer;
    }
    void HideSettingsWindow() override { ++hideSettingsCalls; }

    const std::vector<std::string>& MemoLines(wtk::Memo m) { return memos[m]; }
    std::string Text(Label l) { return texts[l]; }
};

}  // namespace wtk::test
