server component
