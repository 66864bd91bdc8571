#include "base/frontend.h"

namespace tarnwick::base {

namespace {

struct QuestionInfo {
    Question question;
    Buttons buttons;
    Answer defaultAnswer;
    Severity severity = Severity::Information;
};

// Each question's buttons and the answer a box gives when nobody chooses.
constexpr QuestionInfo k_questions[] = {
    {Question::Message, Buttons::Ok, Answer::Ok},
    {Question::RedoUpdate, Buttons::YesNo, Answer::No},
    // no default of its own: a front end that cannot ask a person stores nothing suspicious
    {Question::RevertedFields, Buttons::YesNoCancel, Answer::Cancel, Severity::Warning},
    {Question::DeleteEntries, Buttons::YesNo, Answer::No},
    {Question::ClearLastUpdate, Buttons::YesNo, Answer::No},
    {Question::DeletePendingEmail, Buttons::YesNo, Answer::No},
    {Question::SendPendingEmail, Buttons::YesNoCancel, Answer::Yes},
    {Question::ExitAfterFailedSend, Buttons::YesNo, Answer::No, Severity::Warning},
    {Question::Disclaimer, Buttons::YesNo, Answer::No, Severity::Warning},
    {Question::QuitUnconfigured, Buttons::YesNo, Answer::Yes},
    {Question::TestEmailConnection, Buttons::YesNo, Answer::Yes},
    {Question::OverwriteInstalled, Buttons::YesNoCancel, Answer::Yes},
    {Question::DownloadUpgrade, Buttons::YesNo, Answer::Yes},
    {Question::DeleteAddress, Buttons::YesNo, Answer::No},
    {Question::CreateDirectory, Buttons::YesNo, Answer::Yes},
};

} // namespace

std::string caption(std::string_view title)
{
    std::string out = "Tarnwick\xAE";
    if (!title.empty()) {
        out += " - ";
        out += title;
    }
    return out;
}

MessageBox boxOf(Question question, std::string text, std::string_view title)
{
    MessageBox box{question, std::move(text), caption(title), Buttons::Ok, Answer::Ok};
    for (const QuestionInfo& q : k_questions) {
        if (q.question == question) {
            box.buttons = q.buttons;
            box.defaultAnswer = q.defaultAnswer;
            box.severity = q.severity;
        }
    }
    return box;
}

BoxIcon boxIcon(const MessageBox& box)
{
    switch (box.severity) {
    case Severity::Error:
        return BoxIcon::Critical;
    case Severity::Warning:
        return BoxIcon::Warning;
    case Severity::Information:
        break;
    }
    return box.buttons == Buttons::Ok ? BoxIcon::Information : BoxIcon::Question;
}

std::string plainStatusText(std::string_view label)
{
    std::string out;
    out.reserve(label.size());
    for (size_t i = 0; i < label.size(); ++i) {
        out += label[i];
        // a lone "&" is shown as it is: only a doubled one was written for a label
        if (label[i] == '&' && i + 1 < label.size() && label[i + 1] == '&')
            ++i;
    }
    return out;
}

} // namespace tarnwick::base
