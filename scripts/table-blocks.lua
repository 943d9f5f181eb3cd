-- Pandoc filter for the user's guide as plain text: a table becomes a block
-- for each row, its first cell after its column's heading on a line of its
-- own, each other cell below it on an indented line that opens with its
-- column's heading. A grid table fitted to 78 columns breaks its cells'
-- sentences apart; a line each lets Notepad wrap them whole.
local function inlines(cell)
  return pandoc.utils.blocks_to_inlines(cell.contents)
end

function Table(tbl)
  local headings = {}
  for i, cell in ipairs(tbl.head.rows[1].cells) do
    headings[i] = inlines(cell)
  end
  local items = pandoc.List()
  for _, body in ipairs(tbl.bodies) do
    for _, row in ipairs(body.body) do
      local term = pandoc.List(headings[1]):clone()
      term:insert(pandoc.Space())
      term:extend(inlines(row.cells[1]))
      local lines = pandoc.List()
      for i = 2, #row.cells do
        local content = inlines(row.cells[i])
        if #content > 0 then
          if #lines > 0 then
            lines:insert(pandoc.LineBreak())
          end
          lines:extend(headings[i])
          lines:insert(pandoc.Str(":"))
          lines:insert(pandoc.Space())
          lines:extend(content)
        end
      end
      items:insert({term, {pandoc.Plain(lines)}})
    end
  end
  return pandoc.DefinitionList(items)
end
