// Common base of the installer's windows: one skin per window, class "XMLWnd", no caption or maximise box.
#pragma once

#include <string>

#include "uikit/Window.h"

class CSkinFrameBase : public UiKit::Window {
public:
    explicit CSkinFrameBase(std::wstring skinName) : skinName_(std::move(skinName)) {}

    std::wstring GetWindowClassName() const override { return L"XMLWnd"; }
    std::wstring GetSkinType() const override { return L"xml"; }
    // Every derived window returns its layout's resource id instead.
    std::wstring GetSkinFile() const override { return skinName_; }
    std::wstring GetSkinFolder() const override { return L""; }
    // The skins use only the toolkit's own controls.
    std::unique_ptr<UiKit::Control> CreateControl(const std::wstring&) override { return nullptr; }
    void InitWindow() override;
    // A window with a caption label in its skin ("captionLbl") is called by that caption, else by its title.
    std::wstring AccessibleName() const override;

    // 96 for 0..119, 120 for 120..143, 144 for 144..191, 192 from 192; a negative value comes back unchanged.
    static int GetDpiLevel(int dpi);
    const std::wstring& SkinName() const { return skinName_; }

protected:
    // Drops the caption and the maximise box, clips children and siblings, and leaves the topmost band.
    void AdjustStyles();

private:
    std::wstring skinName_;
};
