-- Pandoc filter for the user's guide as plain text: headings that stand out
-- in Notepad. In English an underline as wide as the heading, "=" under the
-- title, "-" under a section and "~" under a part of one; in Japanese, whose
-- full-width characters leave an underline's width uncertain, the title in
-- 【】, a section after ■ and a part of one after □. The language is the
-- metadata field lang.
local japanese = false

function Meta(meta)
  japanese = pandoc.utils.stringify(meta.lang or "") == "ja"
end

function Header(header)
  local text = pandoc.utils.stringify(header.content)
  if japanese then
    if header.level == 1 then
      return pandoc.Para({pandoc.Str("【" .. text .. "】")})
    end
    return pandoc.Para({pandoc.Str((header.level == 2 and "■ " or "□ ") .. text)})
  end
  local underline = {"=", "-"}
  local rule = string.rep(underline[header.level] or "~", utf8.len(text))
  return pandoc.Para({pandoc.Str(text), pandoc.LineBreak(), pandoc.Str(rule)})
end

return {{Meta = Meta}, {Header = Header}}
