-- Pandoc filter for the user's guide as plain text: a block of code (a
-- settings file, a command) is copied from Notepad and pasted as it stands,
-- so its lines start at the start of the line, not indented as the plain
-- writer indents a block, and more inside a list. Each code line gets a mark
-- here; the release script takes out the mark and the indent before it.
local MARK = "\u{E000}"

function CodeBlock(block)
  local lines = {}
  for line in (block.text .. "\n"):gmatch("(.-)\n") do
    lines[#lines + 1] = MARK .. line
  end
  return pandoc.CodeBlock(table.concat(lines, "\n"), block.attr)
end
