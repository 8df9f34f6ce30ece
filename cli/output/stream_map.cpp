// Deciding, stream by stream, what the output container takes.
#include "cli/output/stream_map.h"

#include <array>
#include <cstring>

namespace {

constexpr uint32_t kTimecodeTag = MKTAG('t', 'm', 'c', 'd');

// The audio encoder a container is usually given: Opus in WebM, AAC in the
// MP4 family, the container's own default elsewhere.
const AVCodec* usual_audio_encoder(const AVOutputFormat* container) {
  if (std::strcmp(container->name, "webm") == 0) {
    if (const AVCodec* c = avcodec_find_encoder_by_name("libopus")) return c;
  }
  if (container->audio_codec == AV_CODEC_ID_NONE) return nullptr;
  const AVCodec* c = avcodec_find_encoder(container->audio_codec);
  return c != nullptr && container_holds(container, c->id) != 0 ? c : nullptr;
}

// The text format a container keeps subtitles in (mov_text in MP4, WebVTT
// in WebM): its own default, or else the first text format it says it
// holds (the MP4 muxer names no default).
const AVCodec* text_subtitle_encoder(const AVOutputFormat* container) {
  const AVCodecID candidates[] = {container->subtitle_codec, AV_CODEC_ID_MOV_TEXT, AV_CODEC_ID_WEBVTT,
                                  AV_CODEC_ID_ASS, AV_CODEC_ID_SUBRIP};
  for (const AVCodecID id : candidates) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    if (d == nullptr || !(d->props & AV_CODEC_PROP_TEXT_SUB)) continue;
    const AVCodec* c = avcodec_find_encoder(id);
    const int held = container_holds(container, id);
    if (c != nullptr && (held > 0 || (held < 0 && id == container->subtitle_codec))) return c;
  }
  return nullptr;
}

bool is_text_subtitle(AVCodecID id) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(id);
  return d != nullptr && (d->props & AV_CODEC_PROP_TEXT_SUB) && avcodec_find_decoder(id) != nullptr;
}

// Whether the container holds a stream of this codec as it is. Muxers that
// cannot tell take only their own default codec of that kind, which is
// what they were made for.
bool holds(const AVOutputFormat* container, AVCodecID id, AVCodecID own_default) {
  const int answer = container_holds(container, id);
  return answer > 0 || (answer < 0 && id == own_default && id != AV_CODEC_ID_NONE);
}

std::string codec_kind(AVCodecID id, const char* kind) { return std::string(avcodec_get_name(id)) + " " + kind; }

StreamRoute route_audio(const AVStream* in, const AVOutputFormat* c, bool pictures) {
  StreamRoute r;
  if (pictures || c->audio_codec == AV_CODEC_ID_NONE) {
    r.cannot_hold = "audio";
    return r;
  }
  // A muxer that cannot say whether it holds the codec is asked by writing
  // a header into memory (AAC into MPEG program streams is refused there).
  const int held = container_holds(c, in->codecpar->codec_id);
  if (held > 0 || (held < 0 && !muxer_refusal(c, *in->codecpar))) {
    r.way = StreamWay::kCopy;
  } else if ((r.encoder = usual_audio_encoder(c)) != nullptr) {
    r.way = StreamWay::kReencode;
  } else {
    r.cannot_hold = codec_kind(in->codecpar->codec_id, "audio");
  }
  return r;
}

StreamRoute route_subtitles(const AVStream* in, const AVOutputFormat* c, bool pictures) {
  StreamRoute r;
  const AVCodecID id = in->codecpar->codec_id;
  if (pictures) {
    r.cannot_hold = "subtitles";
  } else if (holds(c, id, c->subtitle_codec)) {
    r.way = StreamWay::kCopy;
  } else if (is_text_subtitle(id) && (r.encoder = text_subtitle_encoder(c)) != nullptr) {
    r.way = StreamWay::kConvert;
  } else {
    r.cannot_hold = text_subtitle_encoder(c) == nullptr && c->subtitle_codec == AV_CODEC_ID_NONE
                        ? "subtitles"
                        : codec_kind(id, "subtitles");
  }
  return r;
}

StreamRoute route_other(const AVStream* in, const AVOutputFormat* c, bool pictures) {
  StreamRoute r;
  const AVCodecParameters* p = in->codecpar;
  switch (p->codec_type) {
    case AVMEDIA_TYPE_ATTACHMENT:
      // Attachments (fonts for the subtitles) are Matroska's alone; WebM,
      // its subset, refuses them.
      if (!pictures && std::strcmp(c->name, "matroska") == 0) r.way = StreamWay::kCopy;
      else r.cannot_hold = "attachments";
      return r;
    case AVMEDIA_TYPE_VIDEO:
      if (!pictures && holds(c, p->codec_id, c->video_codec)) r.way = StreamWay::kCopy;
      else r.cannot_hold = pictures ? "more video" : codec_kind(p->codec_id, "video");
      return r;
    default:
      // A timecode track goes along as the video's timecode, which the
      // container writes in its own way (MP4 as a track again).
      if (!pictures && p->codec_tag == kTimecodeTag) r.way = StreamWay::kTimecode;
      else if (!pictures && p->codec_id != AV_CODEC_ID_NONE && container_holds(c, p->codec_id) > 0) r.way = StreamWay::kCopy;
      else r.cannot_hold = "data streams";
      return r;
  }
}

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "a", "a and b", "a, b and c".
std::string joined(const std::vector<std::string>& items, const char* last_word) {
  std::string text;
  for (size_t k = 0; k < items.size(); ++k) {
    if (k > 0) text += k + 1 == items.size() ? std::string(" ") + last_word + " " : ", ";
    text += items[k];
  }
  return text;
}

}  // namespace

std::vector<StreamRoute> map_streams(const AVFormatContext* input, int video_index, const AVOutputFormat* container,
                                     const StreamWishes& wishes) {
  std::vector<StreamRoute> routes;
  for (unsigned k = 0; k < input->nb_streams; ++k) {
    if (int(k) == video_index) continue;
    const AVStream* in = input->streams[k];
    const AVMediaType type = in->codecpar->codec_type;
    if ((type == AVMEDIA_TYPE_AUDIO && !wishes.audio) || (type == AVMEDIA_TYPE_SUBTITLE && !wishes.subtitles) ||
        (type == AVMEDIA_TYPE_VIDEO && !wishes.whole))
      continue;
    StreamRoute r = type == AVMEDIA_TYPE_AUDIO      ? route_audio(in, container, wishes.pictures)
                    : type == AVMEDIA_TYPE_SUBTITLE ? route_subtitles(in, container, wishes.pictures)
                                                    : route_other(in, container, wishes.pictures);
    r.index = int(k);
    r.type = type;
    routes.push_back(std::move(r));
  }
  return routes;
}

std::string left_out_note(const std::vector<StreamRoute>& routes, int chapters, const std::string& holder,
                          bool matroska_holds_all) {
  struct Kind {
    AVMediaType type;
    const char* one;
    const char* many;
  };
  static constexpr std::array<Kind, 5> kinds = {{{AVMEDIA_TYPE_AUDIO, "audio stream", "audio streams"},
                                                 {AVMEDIA_TYPE_VIDEO, "video stream", "video streams"},
                                                 {AVMEDIA_TYPE_SUBTITLE, "subtitle stream", "subtitle streams"},
                                                 {AVMEDIA_TYPE_DATA, "data stream", "data streams"},
                                                 {AVMEDIA_TYPE_ATTACHMENT, "attachment", "attachments"}}};
  std::vector<std::string> counts, reasons;
  for (const Kind& kind : kinds) {
    int n = 0;
    for (const StreamRoute& r : routes) {
      if (r.way != StreamWay::kLeaveOut || r.type != kind.type) continue;
      ++n;
      bool known = false;
      for (const std::string& reason : reasons) known = known || reason == r.cannot_hold;
      if (!known) reasons.push_back(r.cannot_hold);
    }
    if (n > 0) counts.push_back(counted(n, kind.one, kind.many));
  }
  if (chapters > 0) {
    counts.push_back(counted(chapters, "chapter", "chapters"));
    reasons.push_back("chapters");
  }
  if (counts.empty()) return "";
  return joined(counts, "and") + " left out: " + holder + " cannot hold " + joined(reasons, "or") +
         (matroska_holds_all ? "; use .mkv" : "");
}
