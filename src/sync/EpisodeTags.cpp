#include "sync/EpisodeTags.h"

#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <memory>

namespace corvane {

namespace {

TagLib::String Utf8(const std::string& text)
{
    return TagLib::String(text, TagLib::String::UTF8);
}

// Replaces the frames of id by one text frame, or removes them for an empty text.
void SetText(TagLib::ID3v2::Tag& tag, const char* id, const std::string& text)
{
    tag.removeFrames(id);
    if (text.empty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(
        TagLib::ByteVector(id), TagLib::String::UTF8);
    frame->setText(Utf8(text));
    tag.addFrame(frame.release()); // the tag owns its frames
}

void SetComment(TagLib::ID3v2::Tag& tag, const std::string& comment)
{
    tag.removeFrames("COMM");
    if (comment.empty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::CommentsFrame>(TagLib::String::UTF8);
    frame->setLanguage("XXX");
    frame->setText(Utf8(comment));
    tag.addFrame(frame.release());
}

} // namespace

std::string EpisodeTags::Fingerprint() const
{
    std::string text;
    for (const std::string* field : {&title, &album, &artist, &date, &comment}) {
        text += *field;
        text += '\0';
    }
    return text + std::to_string(track) + "|Podcast|ID3v2.3";
}

bool WriteEpisodeTags(const std::string& path, const EpisodeTags& tags, std::string& error)
{
    TagLib::MPEG::File file(path.c_str(), false);
    if (!file.isValid() || file.readOnly()) {
        error = "cannot tag " + path + ": it cannot be read and written as MPEG audio";
        return false;
    }
    TagLib::ID3v2::Tag& tag = *file.ID3v2Tag(true);
    SetText(tag, "TIT2", tags.title);
    SetText(tag, "TALB", tags.album);
    SetText(tag, "TPE1", tags.artist);
    SetText(tag, "TDRC", tags.date);
    SetText(tag, "TRCK", tags.track > 0 ? std::to_string(tags.track) : std::string());
    SetText(tag, "TCON", "Podcast");
    SetComment(tag, tags.comment);
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3,
            TagLib::File::DoNotDuplicate)) {
        error = "cannot tag " + path + ": TagLib could not save the tag";
        return false;
    }
    return true;
}

} // namespace corvane
