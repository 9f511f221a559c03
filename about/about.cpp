#include "about/about.h"

#include "platform/translate.h"
#include "tempikon_version.h"

namespace tempikon::about {

namespace {
const char* const kFace = "Comic Sans MS";
constexpr double kTextPoints = 9.75;

// Client area 5790 x 2175; the logo (85 x 130 px) on the left, the texts in
// a column beside it.
constexpr int kTextLeft = 1500;
constexpr int kTextRight = 5670;
constexpr int kLinkLeft = 2790;
constexpr platform::Colour kBackground = 0x00F0F0F0u;  // the classic button face
}  // namespace

std::string RevisionLine(const platform::Version& version) {
    return "Rev " + std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.revision);
}

About::About(platform::Platform& platform) : platform_(platform) {
    platform::WindowSpec spec;
    spec.caption = std::string("About ") + version::kProductName;
    spec.clientWidthTwips = 5790;
    spec.clientHeightTwips = 2175;
    spec.dialog = true;
    // The title and the links have fixed colours; a fixed background keeps
    // them readable under a dark theme.
    spec.background = kBackground;
    spec.hasBackground = true;
    window_ = platform_.createWindow(spec);

    window_->addPicture({105, 112, 1275, 1950}, "logo");
    titleLabel_ = &window_->addLabel({kTextLeft, 105, kTextRight - kTextLeft, 405}, "",
                                     {kFace, 14.25, false});
    // The windows' one family, smaller than the texts below it.
    revisionLabel_ =
        &window_->addLabel({4590, 510, kTextRight - 4590, 240}, "Rev", {kFace, 8.25, false});
    window_->addLabel({kTextLeft, 780, kTextRight - kTextLeft, 285}, kNotice,
                      {kFace, kTextPoints, true});
    window_->addLabel({kTextLeft, 1110, kTextRight - kTextLeft, 285},
                      QT_TRANSLATE_NOOP("Tempikon", "This is freeware."),
                      {kFace, kTextPoints, false});
    visitLabel_ = &window_->addLabel({kTextLeft, 1440, kLinkLeft - kTextLeft, 285},
                                     QT_TRANSLATE_NOOP("Tempikon", "Visit us at"),
                                     {kFace, kTextPoints, false});
    webLink_ = &window_->addLabel({kLinkLeft, 1440, kTextRight - kLinkLeft, 285}, kWebAddress,
                                  {kFace, kTextPoints, false});
    mailToLabel_ = &window_->addLabel({kTextLeft, 1770, kLinkLeft - kTextLeft, 285},
                                      QT_TRANSLATE_NOOP("Tempikon", "Send mail to"),
                                      {kFace, kTextPoints, false});
    mailLink_ = &window_->addLabel({kLinkLeft, 1770, kTextRight - kLinkLeft, 285}, kMailAddress,
                                   {kFace, kTextPoints, false});

    titleLabel_->setTextColour(0x000000FFu);

    webLink_->onMouseMove = [this] { onWebLinkHover(); };
    mailLink_->onMouseMove = [this] { onMailLinkHover(); };
    visitLabel_->onMouseMove = [this] { onHoverElsewhere(); };
    mailToLabel_->onMouseMove = [this] { onHoverElsewhere(); };
    window_->onMouseMove = [this] { onHoverElsewhere(); };
    webLink_->onClick = [this] { onWebLinkClick(); };
    mailLink_->onClick = [this] { onMailLinkClick(); };
    window_->onClosed = [this] {
        if (onClosed) onClosed();
    };

    // Filled at creation.
    titleLabel_->setText(version::kTitle);
    revisionLabel_->setText(RevisionLine(platform_.version()));
}

About::~About() = default;

void About::show() {
    window_->showModal();
}

bool About::isShown() const {
    return window_->isVisible();
}

void About::close() {
    window_->close();
}

void About::setLinkColours(platform::Colour web, platform::Colour mail) {
    webLink_->setTextColour(web);
    mailLink_->setTextColour(mail);
}

void About::onWebLinkHover() {
    setLinkColours(kLinkHoverColour, kLinkColour);
}

void About::onMailLinkHover() {
    setLinkColours(kLinkColour, kLinkHoverColour);
}

void About::onHoverElsewhere() {
    setLinkColours(kLinkColour, kLinkColour);
}

void About::onWebLinkClick() {
    open(kWebAddress);
}

void About::onMailLinkClick() {
    open(std::string("mailto:") + kMailAddress);
}

void About::open(const std::string& address) {
    if (!platform_.openAddress(address, window_->handle()))
        platform_.messageBox(platform::NotOpenedMessage(address), version::kTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
}

}  // namespace tempikon::about
