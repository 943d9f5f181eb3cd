-- Pandoc filter for the Japanese guide as plain text: lines of at most 76
-- columns, as Notepad shows them without wrapping. A column is a byte of code
-- page 932, so a full-width character takes two. Lines break between two
-- Japanese characters, or between one and an ASCII word, or at a blank, but
-- never inside an ASCII word, a katakana word, a path, a command or an
-- address: one wider than the line stands alone on a line of its own. Kinsoku: no line begins with a
-- closing mark or a small kana, and none ends with an opening mark. A block's
-- lines keep the indent that the plain writer gives it. Runs last, on the
-- document tree, where code still tells a command from the words around it.
local WIDTH = 76
-- The plain writer's indent of a list item's or a definition's blocks.
local LIST_INDENT = 4

-- The set of a text's characters, as a table of code points.
local function set_of(text)
  local set = {}
  for _, c in utf8.codes(text) do
    set[c] = true
  end
  return set
end

local NO_START = set_of("。、，．」』）】〕！？ー・ぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶｧｨｩｪｫｬｭｮｯｰ" ..
                      ")]},.:;!?")
local NO_END = set_of("「『（【〔([{")

-- Columns of a character in code page 932: ASCII and half-width katakana
-- take one byte, every other character two.
local function columns(c)
  if c < 0x80 or (c >= 0xFF61 and c <= 0xFF9F) then
    return 1
  end
  return 2
end

-- The pieces of a line of inlines: an ASCII word (text without a blank, or a
-- piece of code, kept whole) or a single other character; each notes whether
-- a blank stands before it.
local function pieces(inlines)
  local out, blank = {}, false
  local function add(text, ascii)
    local last = out[#out]
    if ascii and last and last.ascii and not blank then
      last.text = last.text .. text
    else
      out[#out + 1] = {text = text, ascii = ascii, blank = blank}
    end
    blank = false
  end
  local function walk(list)
    for _, el in ipairs(list) do
      if el.t == "Str" then
        local word = ""
        for _, c in utf8.codes(el.text) do
          if c < 0x80 then
            word = word .. utf8.char(c)
          else
            if word ~= "" then add(word, true) end
            word = ""
            add(utf8.char(c), false)
          end
        end
        if word ~= "" then add(word, true) end
      elseif el.t == "Code" then
        add(el.text, true)
      elseif el.t == "Space" or el.t == "SoftBreak" then
        blank = #out > 0
      elseif el.content then
        walk(el.content)
      end
    end
  end
  walk(inlines)
  for _, piece in ipairs(out) do
    piece.width = 0
    for _, c in utf8.codes(piece.text) do
      piece.width = piece.width + columns(c)
    end
    local first = utf8.codepoint(piece.text, 1)
    local last = utf8.codepoint(piece.text, utf8.offset(piece.text, -1))
    piece.first, piece.last = first, last
  end
  return out
end

-- Katakana and the long-vowel mark, full-width or half-width: a word of
-- them is never broken, so that Notepad's search finds it whole.
local function katakana(c)
  return (c >= 0x30A1 and c <= 0x30FA) or c == 0x30FC or (c >= 0xFF66 and c <= 0xFF9F)
end

-- A line may break before piece b, which follows piece a.
local function breakable(a, b)
  if NO_START[b.first] or NO_END[a.last] then
    return false
  end
  if not b.blank and katakana(a.last) and katakana(b.first) then
    return false
  end
  return b.blank or not (a.ascii and b.ascii)
end

-- The pieces joined into chunks that no line break may split.
local function chunks(list)
  local out = {}
  for i, piece in ipairs(list) do
    local chunk = out[#out]
    if i == 1 or breakable(list[i - 1], piece) then
      out[#out + 1] = {parts = {piece.text}, width = piece.width, blank = piece.blank,
                       first = piece.first, last = piece.last}
    else
      if piece.blank then
        chunk.parts[#chunk.parts + 1] = " "
        chunk.width = chunk.width + 1
      end
      chunk.parts[#chunk.parts + 1] = piece.text
      chunk.width = chunk.width + piece.width
      chunk.last = piece.last
    end
  end
  return out
end

-- A line may end this many columns short of the room, to break where a
-- reader pauses rather than inside a word.
local SLACK = 20
-- When those columns hold no pause, a pause this far back is taken rather
-- than a break inside a word.
local REACH = 30

local PAUSE_AFTER = set_of("。、，．」』）】〕！？→")
local PAUSE_BEFORE = set_of("「『（【〔")

-- A closing mark stays with the particle that follows it.
local CLOSING = set_of("」』）】〕")
local PARTICLE = set_of("をにはがでとのもへや")

local function hiragana(c)
  return c >= 0x3041 and c <= 0x309F
end

-- How well a line breaks before chunk b, which follows chunk a: 3 after a
-- punctuation mark, before an opening one, or at a blank between Japanese
-- and an ASCII word (not between two ASCII words, as in Windows 7);
-- 2 after a particle before other text; 1 after other hiragana before other
-- text; 0 elsewhere, such as at the blank between an ASCII word and the
-- particle or counter that follows it.
local function pause(a, b)
  if (PAUSE_AFTER[a.last] and not (CLOSING[a.last] and hiragana(b.first)))
      or PAUSE_BEFORE[b.first] or (b.blank and b.first < 0x80 and a.last >= 0x80) then
    return 3
  end
  if hiragana(a.last) and not hiragana(b.first) and not b.blank then
    return PARTICLE[a.last] and 2 or 1
  end
  return 0
end

local function kanji(c)
  return c >= 0x4E00 and c <= 0x9FFF
end

-- A break where no reader pauses: 0.5 between two words of other kinds;
-- 0.4 between two kanji (全|体); 0.25 where a run of hiragana starts, as a
-- verb's ending (見分|ける); 0 inside the run (しま|す), taken only when the
-- window has nothing else.
local function rank(a, b)
  local r = pause(a, b)
  if r > 0 then
    return r
  end
  if b.blank then
    return 0.5
  end
  if hiragana(b.first) then
    return hiragana(a.last) and 0 or 0.25
  end
  return (kanji(a.last) and kanji(b.first)) and 0.4 or 0.5
end

-- The width of chunks from to upto of a line.
local function span(line, from, upto)
  local width = 0
  for k = from, upto do
    width = width + line[k].width + ((k > from and line[k].blank) and 1 or 0)
  end
  return width
end

-- A line of inlines filled into lines of at most room columns. A full line
-- is cut back to its last good break within SLACK columns of its end.
local function fill(inlines, room, into)
  local lines, line = {}, {}
  local function flush(upto)
    local parts = {}
    for k = 1, upto do
      if k > 1 and line[k].blank then parts[#parts + 1] = " " end
      parts[#parts + 1] = table.concat(line[k].parts)
    end
    lines[#lines + 1] = table.concat(parts)
    local rest = {}
    for k = upto + 1, #line do rest[#rest + 1] = line[k] end
    line = rest
  end
  for _, chunk in ipairs(chunks(pieces(inlines))) do
    if #line > 0 and span(line, 1, #line) + (chunk.blank and 1 or 0) + chunk.width > room then
      local cut, best = #line, 0
      local last = rank(line[#line], chunk)
      for k = #line, 2, -1 do
        local short = room - span(line, 1, k - 1)
        if short > REACH or (short > SLACK and math.max(best, last) >= 1) then break end
        local r = rank(line[k - 1], line[k])
        if short > SLACK and r < 1 then r = 0 end
        if r > best and span(line, k, #line) + (chunk.blank and 1 or 0) + chunk.width <= room then
          cut, best = k - 1, r
        end
      end
      if best == 0 or last >= best then
        cut = #line
      end
      flush(cut)
    end
    line[#line + 1] = chunk
  end
  if #line > 0 then flush(#line) end
  for i, text in ipairs(lines) do
    if i > 1 then into:insert(pandoc.LineBreak()) end
    into:insert(pandoc.Str(text))
  end
end

-- Inlines wrapped to the room; a hard line break stays one.
local function wrap(inlines, room)
  local out, line = pandoc.List(), pandoc.List()
  for _, el in ipairs(inlines) do
    if el.t == "LineBreak" then
      fill(line, room, out)
      out:insert(pandoc.LineBreak())
      line = pandoc.List()
    else
      line:insert(el)
    end
  end
  fill(line, room, out)
  return out
end

local blocks

local function items(list, indent)
  local out = pandoc.List()
  for _, item in ipairs(list) do
    out:insert(blocks(item, indent + LIST_INDENT))
  end
  return out
end

function blocks(list, indent)
  local out = pandoc.List()
  for _, block in ipairs(list) do
    if block.t == "Para" then
      block = pandoc.Para(wrap(block.content, WIDTH - indent))
    elseif block.t == "Plain" then
      block = pandoc.Plain(wrap(block.content, WIDTH - indent))
    elseif block.t == "BulletList" then
      block = pandoc.BulletList(items(block.content, indent))
    elseif block.t == "OrderedList" then
      block = pandoc.OrderedList(items(block.content, indent), block.listAttributes)
    elseif block.t == "DefinitionList" then
      local entries = pandoc.List()
      for _, entry in ipairs(block.content) do
        entries:insert({wrap(entry[1], WIDTH - indent), items(entry[2], indent)})
      end
      block = pandoc.DefinitionList(entries)
    elseif block.t == "Div" then
      block = pandoc.Div(blocks(block.content, indent), block.attr)
    end
    out:insert(block)
  end
  return out
end

function Pandoc(doc)
  return pandoc.Pandoc(blocks(doc.blocks, 0), doc.meta)
end
