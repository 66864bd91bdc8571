#pragma once

#include "tasks/taskhost.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::base {

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Answer { Ok, Yes, No, Cancel };
// How grave a box's news is: a failure (Error), something the user should look at (Warning), or plain news.
enum class Severity { Information, Warning, Error };
// The icon a window gives a box: a question asks unless it warns; an OK box shows its severity.
enum class BoxIcon { Information, Question, Warning, Critical };

// Every question the system asks a person, and the one kind of box that only tells. A front end that answers
// without a person (the command line, the tests) goes by this identity, never by the wording.
enum class Question {
    Message,             // an OK box: news, a refusal or an error
    RedoUpdate,          // every entry of the update is up to date: update them again?
    RevertedFields,      // three or more fields of an entry reverted to nothing: keep them?
    DeleteEntries,       // delete the selected entries?
    ClearLastUpdate,     // clear Last Update of the selected entries?
    DeletePendingEmail,  // delete the pending e-mail?
    SendPendingEmail,    // the window closes with e-mail pending: send it now?
    ExitAfterFailedSend, // the sending at close failed: exit anyway?
    Disclaimer,          // the first run's terms: agree?
    QuitUnconfigured,    // the configuration is still empty: quit?
    TestEmailConnection, // after the first configuration: send the test e-mail?
    OverwriteInstalled,  // the program runs from elsewhere than the application directory: copy it there?
    DownloadUpgrade,     // a newer version is known: download and install it?
    DeleteAddress,       // delete the configuration's notification address?
    CreateDirectory,     // a configured directory does not exist: create it?
};

// A message box as it travels through the front-end seam.
struct MessageBox {
    Question question = Question::Message;
    std::string text;
    std::string caption; // the full caption (see caption())
    Buttons buttons = Buttons::Ok;
    Answer defaultAnswer = Answer::Ok;
    Severity severity = Severity::Information;
};

BoxIcon boxIcon(const MessageBox& box);

// The status line's text as the user reads it: it is written as a label's, where "&&" stands for one "&".
std::string plainStatusText(std::string_view label);

// "Tarnwick®" (0xAE after the name), or that caption, " - " and the title.
std::string caption(std::string_view title = {});

// The box of `question` with its own buttons and default answer, captioned with `title`.
MessageBox boxOf(Question question, std::string text, std::string_view title = {});

// Everything the system logic needs from a window. The Qt main window, the CLI
// and the scripted test double implement it.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Shows the box and returns the answer (Ok for an OK box).
    virtual Answer messageBox(const MessageBox& box) = 0;
    // A text-input dialog; none when cancelled.
    virtual std::optional<std::string> textInput(const std::string& title, const std::string& prompt,
                                                 const std::string& initial) = 0;

    // Run display: caption, range 0..range, position.
    virtual void runStart(const std::string& caption, int range) = 0;
    virtual void runPosition(int position) = 0;
    virtual void runEnd() = 0;
    // Operation display: one network operation with its time-out in seconds.
    virtual void operationStart(int timeoutSeconds) = 0;
    virtual void operationEnd() = 0;
    virtual void statusLine(const std::string& text) = 0;
    virtual void setBusy(bool busy) = 0;
    virtual void rowChanged(int position) = 0;

    // Wait up to `maxWaitMs` for input, then handle what came (Qt: process
    // events; CLI: sleep and watch for Ctrl-C).
    virtual void dispatch(int maxWaitMs) = 0;

    // Asks `question` (boxOf) and returns the answer.
    Answer ask(Question question, std::string text, std::string_view title = {})
    {
        return messageBox(boxOf(question, std::move(text), title));
    }
    // An OK box captioned with `title`.
    void tell(std::string text, std::string_view title = {}, Severity severity = Severity::Information)
    {
        MessageBox box = boxOf(Question::Message, std::move(text), title);
        box.severity = severity;
        messageBox(box);
    }
};

// A front end that passes every call on to another; a decorator overrides only what it changes.
class FrontEndDecorator : public FrontEnd {
public:
    explicit FrontEndDecorator(FrontEnd& inner) : m_inner(inner) {}

    Answer messageBox(const MessageBox& box) override { return m_inner.messageBox(box); }
    std::optional<std::string> textInput(const std::string& title, const std::string& prompt,
                                         const std::string& initial) override
    {
        return m_inner.textInput(title, prompt, initial);
    }
    void runStart(const std::string& caption, int range) override { m_inner.runStart(caption, range); }
    void runPosition(int position) override { m_inner.runPosition(position); }
    void runEnd() override { m_inner.runEnd(); }
    void operationStart(int timeoutSeconds) override { m_inner.operationStart(timeoutSeconds); }
    void operationEnd() override { m_inner.operationEnd(); }
    void statusLine(const std::string& text) override { m_inner.statusLine(text); }
    void setBusy(bool busy) override { m_inner.setBusy(busy); }
    void rowChanged(int position) override { m_inner.rowChanged(position); }
    void dispatch(int maxWaitMs) override { m_inner.dispatch(maxWaitMs); }

protected:
    FrontEnd& inner() { return m_inner; }

private:
    FrontEnd& m_inner;
};

} // namespace tarnwick::base
