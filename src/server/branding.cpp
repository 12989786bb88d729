#include "server/branding.h"

#include "platform/files.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "stores/storage_file.h"

namespace morlak {

Branding ReadBranding(const std::string& folder,
                      const std::function<void(const std::string&)>& onMessage) {
  Branding branding;
  const std::string path = folder + "custom.config";
  if (!FileExists(path)) return branding;
  branding.present = true;
  TOzm_StorageFile container;
  container.OnMessage = onMessage;
  container.SetFilename(path);
  TMemoryStream text;
  if (container.HasEntry("data.0") && container.ExtractToStream("data.0", text)) {
    TStringList values;
    values.lines = SplitLines(text.Data());
    branding.hasText = true;
    branding.homepage = values.Value("homepage");
    branding.company = values.Value("company");
    branding.author = values.Value("author");
    branding.ftpserver = values.Value("ftpserver");
  }
  TMemoryStream picture;
  if (container.HasEntry("data.1") && container.ExtractToStream("data.1", picture))
    branding.picture = std::move(picture.Data());
  return branding;
}

}  // namespace morlak
