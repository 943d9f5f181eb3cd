-- Pandoc filter for the user's guide as plain text: a picture means nothing
-- in Notepad, so pictures go, and a paragraph that held nothing else.
function Image()
  return {}
end

function Para(para)
  if pandoc.utils.stringify(para) == "" then
    return {}
  end
end
