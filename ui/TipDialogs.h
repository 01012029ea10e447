// The four modal tip dialogs and the functions that run them. Each dialog object lives only for one call.
#pragma once

#include "ui/SkinFrameBase.h"
#include "ui/skins/ResourceIds.h"
#include "utils/Seam.h"

// What the dialogs return. Agreement and exit: kDialogAccepted after "okBtn" (agree, leave), kDialogDeclined after any
// other way of closing. Message and warning: kMessageAcknowledged after "知道了", kMessageDismissed otherwise. Each:
// kDialogNotShown when it cannot be created.
constexpr int kDialogNotShown = -1;
constexpr int kDialogAccepted = 1;
constexpr int kDialogDeclined = 2;
constexpr int kMessageAcknowledged = 0;
constexpr int kMessageDismissed = 1;

// A dialog that asks a question: "okBtn" accepts, "cancelBtn" and the close button decline.
class CQuestionDialog : public CSkinFrameBase {
public:
    void InitWindow() override;
    bool IsDialog() const override { return true; }

protected:
    explicit CQuestionDialog(std::wstring skin) : CSkinFrameBase(std::move(skin)) {}
    // Closes the dialog with its answer when `msg` is a click on one of the three buttons; false otherwise.
    bool Answered(const UiKit::Notify& msg);

private:
    UiKit::Control* okBtn_ = nullptr;
    UiKit::Control* cancelBtn_ = nullptr;
    UiKit::Control* closeBtn_ = nullptr;
};

class CAgreementWidget : public CQuestionDialog {
public:
    CAgreementWidget() : CQuestionDialog(L"AgreementWidget.xml") {}
    std::wstring GetSkinFile() const override { return LayoutName(IDR_LAYOUT_AGREEMENT); }
    void InitWindow() override;
    void OnClick(const UiKit::Notify& msg) override;

private:
    UiKit::Control* agreementBtn_ = nullptr;
};

class CExitTipsWidget : public CQuestionDialog {
public:
    CExitTipsWidget() : CQuestionDialog(L"ExitTipsWidget.xml") {}
    std::wstring GetSkinFile() const override { return LayoutName(IDR_LAYOUT_EXIT); }
    void OnClick(const UiKit::Notify& msg) override;
};

// Message box; the warning box below shares its behaviour and differs only in skin and caption.
class CMessageTipsWidget : public CSkinFrameBase {
public:
    CMessageTipsWidget() : CSkinFrameBase(L"MessageTipsWidget.xml") {}
    std::wstring GetSkinFile() const override { return LayoutName(IDR_LAYOUT_MESSAGE); }
    void InitWindow() override;
    void OnClick(const UiKit::Notify& msg) override;
    bool IsDialog() const override { return true; }
    // Shows `text` and `caption` in the bound labels (null leaves a label as the skin has it).
    void SetTexts(const wchar_t* text, const wchar_t* caption);
    // kMessageAcknowledged after "okBtn", kMessageDismissed after "cancelBtn" or any other way of closing.
    [[nodiscard]] int Result() const { return result_; }

protected:
    CMessageTipsWidget(std::wstring skin) : CSkinFrameBase(std::move(skin)) {}

private:
    int result_ = kMessageDismissed;
    UiKit::Control* okBtn_ = nullptr;
    UiKit::Control* cancelBtn_ = nullptr;
    UiKit::Control* textLbl_ = nullptr;
    UiKit::Control* captionLbl_ = nullptr;
};

class CWarnTipsWidget : public CMessageTipsWidget {
public:
    CWarnTipsWidget() : CMessageTipsWidget(L"WarnTipsWidget.xml") {}
    std::wstring GetSkinFile() const override { return LayoutName(IDR_LAYOUT_WARNING); }
};

int ShowAgreementDialog(HWND owner);
int ShowExitDialog(HWND owner);
int ShowMessageDialog(HWND owner, const wchar_t* text, const wchar_t* caption);
int ShowWarnDialog(HWND owner, const wchar_t* text);

// Called with each dialog right after it is created and before it is centred (tests drive the dialogs from here).
using DialogCreatedSeam = Utils::Seam<void(CSkinFrameBase& dialog)>;
DialogCreatedSeam& DialogCreated();
