#include "ui/TipDialogs.h"

#include "ui/Licence.h"

namespace {

constexpr DWORD kDialogStyle = WS_VISIBLE | WS_OVERLAPPEDWINDOW; // 0x10CF0000; the skin gives the size

bool CreateDialogWindow(CSkinFrameBase& dialog, HWND owner, const wchar_t* title) {
    if (!dialog.Create(owner, title, kDialogStyle, 0)) {
        return false;
    }
    DialogCreated()(dialog);
    return true;
}

bool Is(const UiKit::Notify& msg, const UiKit::Control* control) {
    return control != nullptr && msg.sender == control;
}

} // namespace

DialogCreatedSeam& DialogCreated() {
    static DialogCreatedSeam seam([](CSkinFrameBase&) {});
    return seam;
}

void CQuestionDialog::InitWindow() {
    CSkinFrameBase::InitWindow();
    okBtn_ = Bind<UiKit::Control>(L"okBtn");
    cancelBtn_ = Bind<UiKit::Control>(L"cancelBtn");
    closeBtn_ = Bind<UiKit::Control>(L"closebtn");
}

bool CQuestionDialog::Answered(const UiKit::Notify& msg) {
    if (Is(msg, okBtn_)) {
        Close(kDialogAccepted);
    } else if (Is(msg, cancelBtn_) || Is(msg, closeBtn_)) {
        Close(kDialogDeclined);
    } else {
        return false;
    }
    return true;
}

void CAgreementWidget::InitWindow() {
    CQuestionDialog::InitWindow();
    agreementBtn_ = Bind<UiKit::Control>(L"agreementBtn");
}

void CAgreementWidget::OnClick(const UiKit::Notify& msg) {
    if (Answered(msg)) {
        return;
    }
    if (Is(msg, agreementBtn_)) {
        OpenLicencePage(GetHWND());
    } else {
        CSkinFrameBase::OnClick(msg);
    }
}

void CExitTipsWidget::OnClick(const UiKit::Notify& msg) {
    if (Answered(msg)) {
        return;
    }
    if (msg.sender != nullptr) {
        const std::wstring& name = msg.sender->GetName();
        WPARAM command = name == L"minbtn"       ? SC_MINIMIZE
                         : name == L"maxbtn"     ? SC_MAXIMIZE
                         : name == L"restorebtn" ? SC_RESTORE
                                                 : 0;
        if (command != 0) {
            ::SendMessageW(GetHWND(), WM_SYSCOMMAND, command, 0);
        }
    }
}

void CMessageTipsWidget::InitWindow() {
    CSkinFrameBase::InitWindow();
    // The warning's skin has no button but the close button, and neither skin a cancel button.
    okBtn_ = FindControl(L"okBtn");
    cancelBtn_ = FindControl(L"cancelBtn");
    textLbl_ = Bind<UiKit::Control>(L"textLbl");
    captionLbl_ = Bind<UiKit::Control>(L"captionLbl");
}

void CMessageTipsWidget::SetTexts(const wchar_t* text, const wchar_t* caption) {
    // Both labels are bound: the dialog exists only with them.
    if (text != nullptr) {
        textLbl_->SetText(text);
    }
    if (caption != nullptr) {
        captionLbl_->SetText(caption);
    }
}

void CMessageTipsWidget::OnClick(const UiKit::Notify& msg) {
    if (Is(msg, okBtn_)) {
        result_ = kMessageAcknowledged;
        Close(result_);
    } else if (Is(msg, cancelBtn_)) {
        result_ = kMessageDismissed;
        Close(result_);
    } else {
        CSkinFrameBase::OnClick(msg); // "closebtn": closed, kMessageDismissed
    }
}

int ShowAgreementDialog(HWND owner) {
    CAgreementWidget dialog;
    if (!CreateDialogWindow(dialog, owner, L"用户协议")) {
        return kDialogNotShown;
    }
    dialog.CenterWindow();
    return dialog.ShowModal();
}

int ShowExitDialog(HWND owner) {
    CExitTipsWidget dialog;
    if (!CreateDialogWindow(dialog, owner, L"消息框")) {
        return kDialogNotShown;
    }
    dialog.CenterWindow();
    return dialog.ShowModal();
}

int ShowMessageDialog(HWND owner, const wchar_t* text, const wchar_t* caption) {
    CMessageTipsWidget dialog;
    if (!CreateDialogWindow(dialog, owner, L"消息框")) {
        return kDialogNotShown;
    }
    dialog.SetTexts(text, caption);
    dialog.CenterWindow();
    dialog.ShowModal();
    return dialog.Result();
}

int ShowWarnDialog(HWND owner, const wchar_t* text) {
    CWarnTipsWidget dialog;
    if (!CreateDialogWindow(dialog, owner, L"消息框")) {
        return kDialogNotShown;
    }
    dialog.SetTexts(text, L"温馨提示");
    dialog.CenterWindow();
    dialog.ShowModal();
    return dialog.Result();
}
